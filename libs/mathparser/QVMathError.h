#pragma once

#include "Error.h"

#include <QString>

// Every error of the math library: one domain, codes 1 to 18, the message as
// the localized description. The texts live here and nowhere else.
namespace QVMathError {

QString domain();      // "net.brindlewick.notes.math"
QString functionKey(); // user-info key of code 15: the function's name
QString variableKey(); // user-info key of code 14: the variable's name

// 1: parser terms
Error nilToken();
Error invalidFormat(const QString& what);
Error expressionFromTerm(const QString& term);
Error expressionTooLong(); // more tokens than the parser is given
// 2 to 6: tokenizer
Error invalidOperator(QChar character);
Error unparsableIdentifier();
Error emptyVariableName();
Error unparsableQuotedVariable();
Error unparsableNumber();
Error unparsableHexNumber();
Error unknownPrecedence(const QString& token);
// 7 to 13: parser terms
Error imbalancedParentheses();
Error missingParentheses(const QString& function);
Error nestingTooDeep();
Error unknownArity(const QString& op);
Error noLeftOperandToBinary(const QString& op);
Error noRightOperandToBinary(const QString& op);
Error noLeftOperandToUnary(const QString& op);
Error noRightOperandToUnary(const QString& op);
Error missingOperands(const QString& op);
// 14 to 16: evaluator
Error unresolvedVariable(const QString& expression, const QString& name);
Error unresolvedFunction(const QString& name);
Error invalidReturnType(const QString& function);
// 17, 18: function evaluators and function expressions
Error argumentCount(const QString& function, int count, bool atLeast);
Error tooManyRandomArguments();
Error emptyRandomRange();
Error nonExpressionArguments();

} // namespace QVMathError
