#pragma once

#include "Error.h"
#include "decimal/Number.h"

#include <QCborMap>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

class QVExpression;
class QVMathEvaluator;
using QVExpressionPtr = std::shared_ptr<const QVExpression>;

// Variable name (without "$") to a Number, a QString (evaluated in turn) or a
// QVExpressionPtr; any other value counts as unresolved.
using QVSubstitutions = QHash<QString, QVariant>;

enum class QVExpressionType : int64_t { Number = 0, Function = 1, Variable = 2 };

// One immutable node of a parsed expression: a number, a variable or a
// function call (operators are calls of their function, such as "add"). The
// only thing that changes is the parent link, which each new function node
// writes on its arguments; percent reads it to find an enclosing addition.
class QVExpression : public std::enable_shared_from_this<QVExpression> {
public:
    // Parentheses, calls and unary operators nested deeper are refused by the
    // parser; a decoded archive may be as deep as a parsed chain of binary
    // operators can be.
    static constexpr int maximumDepth = 256;

    static QVExpressionPtr expressionFromString(const QString& text, Error* error = nullptr);
    static QVExpressionPtr numberExpressionWithNumber(const Number& number);
    // Code 18 when an argument is null. The name may be empty.
    static QVExpressionPtr functionExpressionWithFunction(const QString& function,
                                                          const QList<QVExpressionPtr>& arguments,
                                                          Error* error = nullptr);
    // One leading "$" is removed; null when nothing remains.
    static QVExpressionPtr variableExpressionWithVariable(const QString& variable);

    QVExpressionType expressionType() const { return m_type; }
    // Each accessor throws std::logic_error on a node of another kind.
    const Number& number() const;
    const QString& function() const; // lowercased
    const QList<QVExpressionPtr>& arguments() const;
    const QString& variable() const;
    QVExpressionPtr parentExpression() const { return m_parent.lock(); }

    std::optional<Number> evaluateWithSubstitutions(const QVSubstitutions& substitutions,
                                                    QVMathEvaluator* evaluator, Error* error = nullptr) const;
    // Constant sub-trees folded through the evaluator (the default one when
    // null). A failed fold keeps the rebuilt call and leaves the error set.
    QVExpressionPtr simplifiedExpressionWithEvaluator(QVMathEvaluator* evaluator, Error* error = nullptr) const;
    // Null, with "error: …" on the console log, when folding failed.
    QVExpressionPtr simplifiedExpression() const;

    // Deep, with lowercased function names; the copies' parents are the copy.
    QVExpressionPtr copy() const;
    // Keys "number", "function", "arguments", "variable".
    QCborMap archive() const;
    // Null for a map that is no expression or nests deeper than any parse.
    static QVExpressionPtr fromArchive(const QCborMap& map);

    bool operator==(const QVExpression& other) const;
    size_t hash() const;
    QString description() const;

private:
    explicit QVExpression(QVExpressionType type) : m_type(type) {}
    static QVExpressionPtr leafFromArchive(const QCborMap& map);

    QVExpressionType m_type;
    Number m_number;
    QString m_name; // the function lowercased, or the variable
    QList<QVExpressionPtr> m_arguments;
    mutable std::weak_ptr<const QVExpression> m_parent;
};

inline size_t qHash(const QVExpression& expression, size_t seed = 0) { return expression.hash() ^ seed; }

Q_DECLARE_METATYPE(Number)
Q_DECLARE_METATYPE(QVExpressionPtr)
