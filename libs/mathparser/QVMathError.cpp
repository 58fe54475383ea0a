#include "QVMathError.h"

namespace QVMathError {

static Error make(int code, const QString& message) { return Error::make(domain(), code, message); }

QString domain() { return QStringLiteral("net.brindlewick.notes.math"); }
QString functionKey() { return domain() + QStringLiteral(".Function"); }
QString variableKey() { return domain() + QStringLiteral(".Variable"); }

Error nilToken() { return make(1, QStringLiteral("can't create a term with a nil token")); }
Error invalidFormat(const QString& what) { return make(1, QStringLiteral("invalid format: %1").arg(what)); }
Error expressionFromTerm(const QString& term)
{
    return make(1, QStringLiteral("Unable to create expression from term: %1").arg(term));
}
Error expressionTooLong() { return make(1, QStringLiteral("expression too long")); }

Error invalidOperator(QChar character)
{
    return make(2, QStringLiteral("%1 is not a valid operator").arg(character));
}
Error unparsableIdentifier() { return make(3, QStringLiteral("unable to parse identifier")); }
Error emptyVariableName() { return make(4, QStringLiteral("variable names must be at least 1 character long")); }
Error unparsableQuotedVariable() { return make(4, QStringLiteral("Unable to parsed quoted variable name")); }
Error unparsableNumber() { return make(5, QStringLiteral("unable to parse number")); }
Error unparsableHexNumber() { return make(5, QStringLiteral("unable to parse hex number")); }
Error unknownPrecedence(const QString& token)
{
    return make(6, QStringLiteral("unknown precedence for token: %1").arg(token));
}

Error imbalancedParentheses() { return make(7, QStringLiteral("imbalanced parentheses")); }
Error missingParentheses(const QString& function)
{
    return make(7, QStringLiteral("missing parentheses after function \"%1\"").arg(function));
}
Error nestingTooDeep() { return make(7, QStringLiteral("nesting too deep")); }
Error unknownArity(const QString& op) { return make(8, QStringLiteral("unknown arity for operator: %1").arg(op)); }
Error noLeftOperandToBinary(const QString& op) { return make(9, QStringLiteral("no left operand to binary %1").arg(op)); }
Error noRightOperandToBinary(const QString& op)
{
    return make(10, QStringLiteral("no right operand to binary %1").arg(op));
}
Error noLeftOperandToUnary(const QString& op) { return make(11, QStringLiteral("no left operand to unary %1").arg(op)); }
Error noRightOperandToUnary(const QString& op)
{
    return make(12, QStringLiteral("no right operand to unary %1").arg(op));
}
Error missingOperands(const QString& op) { return make(13, QStringLiteral("missing operands for operator: %1").arg(op)); }

Error unresolvedVariable(const QString& expression, const QString& name)
{
    Error error = make(14, QStringLiteral("unable to resolve variable: %1").arg(expression));
    error.userInfo.insert(variableKey(), name);
    return error;
}
Error unresolvedFunction(const QString& name)
{
    Error error = make(15, QStringLiteral("unable to resolve function: %1").arg(name));
    error.userInfo.insert(functionKey(), name);
    return error;
}
Error invalidReturnType(const QString& function)
{
    return make(16, QStringLiteral("invalid return type from %1 function").arg(function));
}

Error argumentCount(const QString& function, int count, bool atLeast)
{
    const QString format = atLeast ? QStringLiteral("%1 requires at least %2 argument%3")
                                   : QStringLiteral("%1 requires %2 argument%3");
    return make(17, format.arg(function, QString::number(count), count == 1 ? QString() : QStringLiteral("s")));
}
Error tooManyRandomArguments() { return make(17, QStringLiteral("random() may only have up to 2 arguments")); }
Error emptyRandomRange()
{
    return make(17, QStringLiteral("random() lower bound must be below upper bound"));
}
Error nonExpressionArguments() { return make(18, QStringLiteral("function arguments must be QVExpression objects")); }

} // namespace QVMathError
