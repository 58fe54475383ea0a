#pragma once

#include "QVMathOperator.h"
#include "decimal/Number.h"

#include <QString>

#include <memory>
#include <optional>

enum class QVMathStringTokenType : int64_t { Number = 0, Operator = 1, Function = 2, Variable = 3 };

// One token of a math string. Operator records come from the shared default
// set; a token such as "-" that several operators share stays ambiguous until
// the tokenizer resolves it.
class QVMathStringToken {
public:
    // Numbers carry their value (logged and 0 when the text is no number);
    // no token for an operator text that no default operator has.
    static std::optional<QVMathStringToken> make(const QString& token, QVMathStringTokenType type);

    // The default set's operator of that function; ambiguous when there is none.
    void resolveToOperatorFunction(const QString& function);

    const QString& token() const { return m_token; }
    QVMathStringTokenType tokenType() const { return m_tokenType; }
    // Only number tokens have one.
    const std::optional<Number>& numberValue() const { return m_numberValue; }
    const std::shared_ptr<QVMathOperator>& operatorInfo() const { return m_operatorInfo; }
    bool isAmbiguous() const { return m_ambiguous; }

    // Views of the operator: a null string, Unknown, 0, Left for a token that is
    // not an operator; "invalid", "", Unknown, -1, Left while ambiguous.
    QString operatorType() const;
    QString operatorFunction() const;
    QVMathOperatorArity operatorArity() const;
    int64_t operatorPrecedence() const;
    QVMathOperatorAssociativity operatorAssociativity() const;
    bool isOperator(QVMathOperatorArity arity, QVMathOperatorAssociativity associativity) const;

    QString description() const; // the text, "$" in front of a variable
    QString debugDescription() const;

private:
    QVMathStringToken(const QString& token, QVMathStringTokenType type) : m_tokenType(type), m_token(token) {}

    QVMathStringTokenType m_tokenType;
    std::shared_ptr<QVMathOperator> m_operatorInfo;
    bool m_ambiguous = false;
    QString m_token;
    std::optional<Number> m_numberValue;
};
