#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

enum class QVMathOperatorArity : int64_t { Unknown = 0, Unary = 1, Binary = 2 };
enum class QVMathOperatorAssociativity : int64_t { Left = 0, Right = 1 };

// One operator: the function it stands for ("add"), the tokens that spell it,
// its arity, precedence (higher binds tighter) and associativity. Sets share
// their records, so a precedence written through one pointer is the set's.
class QVMathOperator {
public:
    // Checked: throws std::invalid_argument for arity Unknown or a token that
    // isValidToken() refuses; tokens are lowercased, precedence is 0.
    static std::shared_ptr<QVMathOperator> make(const QString& function, const QStringList& tokens,
                                                QVMathOperatorArity arity,
                                                QVMathOperatorAssociativity associativity);
    // Unchecked: stores the values as given.
    QVMathOperator(const QString& function, const QStringList& tokens, QVMathOperatorArity arity,
                   int64_t precedence, QVMathOperatorAssociativity associativity);

    // Look-ups in the shared default set; null / empty when nothing matches.
    static std::shared_ptr<QVMathOperator> infoForOperatorFunction(const QString& function);
    static QList<std::shared_ptr<QVMathOperator>> infosForOperatorToken(const QString& token);

    // The 27 operators every set starts from, in ascending precedence; built
    // once per process.
    static const QList<std::shared_ptr<const QVMathOperator>>& defaultOperators();
    // Not empty, not starting with a digit, '"', '$', '\'' or '.', no blank at either end.
    static bool isValidToken(const QString& token);

    std::shared_ptr<QVMathOperator> copy() const;
    // Appends the lowercased tokens, unchecked, duplicates kept.
    void addTokens(const QStringList& tokens);
    QString description() const;

    const QString& function() const { return m_function; }
    const QStringList& tokens() const { return m_tokens; }
    QVMathOperatorArity arity() const { return m_arity; }
    QVMathOperatorAssociativity associativity() const { return m_associativity; }
    void setAssociativity(QVMathOperatorAssociativity associativity) { m_associativity = associativity; }
    int64_t precedence() const { return m_precedence; }
    void setPrecedence(int64_t precedence) { m_precedence = precedence; }

private:
    QString m_function;
    QStringList m_tokens;
    QVMathOperatorArity m_arity;
    QVMathOperatorAssociativity m_associativity;
    int64_t m_precedence;
};
