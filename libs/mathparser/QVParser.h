#pragma once

#include "Error.h"
#include "QVExpression.h"
#include "QVMathStringTokenizer.h"

#include <memory>

// Turns the tokens of one math string into an expression tree: a tree of
// terms mirroring the parentheses, each group reduced operator by operator
// (highest precedence first) into function terms, then into expressions.
class QVParser {
public:
    // Null with the tokenizer's error when the text does not tokenize.
    static std::unique_ptr<QVParser> parserWithString(const QString& text, Error* error = nullptr);
    // Null, with no error, for a null tokenizer.
    static std::unique_ptr<QVParser> parserWithTokenizer(std::unique_ptr<QVMathStringTokenizer> tokenizer,
                                                         Error* error = nullptr);

    const std::shared_ptr<QVMathOperatorSet>& operatorSet() const { return m_operatorSet; }
    // Left when the set has no operator of that function.
    QVMathOperatorAssociativity associativityForOperatorFunction(const QString& function) const;

    // Reads the tokens from the start each time; null with the first failure.
    // Parentheses, calls and unary operators nested deeper than
    // QVExpression::maximumDepth fail with code 7 (a chain of binary operators
    // is bounded by the tokenizer's token count).
    QVExpressionPtr parsedExpressionWithError(Error* error = nullptr);

private:
    explicit QVParser(std::unique_ptr<QVMathStringTokenizer> tokenizer);

    std::unique_ptr<QVMathStringTokenizer> m_tokenizer;
    std::shared_ptr<QVMathOperatorSet> m_operatorSet;
};
