// The parser's trees for operator mixes, its failures with their codes and
// texts, and the nesting bound that keeps deep input off the stack.
#include "QVExpression.h"
#include "QVMathError.h"
#include "QVParser.h"

#include <gtest/gtest.h>

namespace {

QString treeOf(const QString& text)
{
    Error error;
    const QVExpressionPtr expression = QVExpression::expressionFromString(text, &error);
    return expression ? expression->description() : QStringLiteral("error %1: %2").arg(error.code).arg(error.localizedDescription());
}

} // namespace

TEST(MathParser, Trees)
{
    const struct {
        const char* text;
        const char* tree;
    } cases[] = {
        {"1 - 2 - 3", "subtract(subtract(1,2),3)"},
        {"2 ** 3 ** 2", "pow(2,pow(3,2))"},
        {"~5 % 3", "not(mod(5,3))"},
        {"5 % ~3", "mod(5,not(3))"},
        {"-2 ** 2", "negate(pow(2,2))"},
        {"2 ** -1", "pow(2,negate(1))"},
        {"2 * --3", "multiply(2,negate(negate(3)))"},
        {"2 ** --3", "pow(2,negate(negate(3)))"},
        {"3!", "factorial(3)"},
        {"1 + 2 * $x", "add(1,multiply(2,$x))"},
        {"(1 + 2) * 3", "multiply(add(1,2),3)"},
        {"f()", "f()"},
        {"f(1,)", "f(1)"},
        {"f(,1)", "error 1: Unable to create expression from term: ()"},
        {"f(1+2,3)", "f(add(1,2),3)"},
        {"", "error 1: Unable to create expression from term: ()"},
        {"°3", "error 11: no left operand to unary °"},
        {"2 * *", "error 13: missing operands for operator: *"},
        {"2 * * 3", "error 1: invalid format: (multiply(2,*)3)"},
        {"1 +", "error 10: no right operand to binary +"},
        {"* 2", "error 9: no left operand to binary *"},
        {"2 * -", "error 12: no right operand to unary -"},
        {"(1", "error 7: imbalanced parentheses"},
        {"f(1", "error 7: missing parentheses after function \"f\""},
        {"(1, 2)", "error 8: unknown arity for operator: ,"},
        {"\"\" + 1", "error 4: variable names must be at least 1 character long"},
        {"f(1,,2)", "error 1: Unable to create expression from term: ()"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(treeOf(QString::fromUtf8(c.text)), QString::fromUtf8(c.tree)) << c.text;
}

TEST(MathParser, AssociativityComesFromTheParsersSet)
{
    auto set = std::make_shared<QVMathOperatorSet>();
    set->operatorForFunction(QStringLiteral("pow"))->setAssociativity(QVMathOperatorAssociativity::Left);
    const auto parser = QVParser::parserWithTokenizer(QVMathStringTokenizer::tokenizerWithString(QStringLiteral("2 ** 3 ** 2"), set));
    ASSERT_TRUE(parser);
    EXPECT_EQ(parser->associativityForOperatorFunction(QStringLiteral("pow")), QVMathOperatorAssociativity::Left);
    EXPECT_EQ(parser->associativityForOperatorFunction(QStringLiteral("nothing")), QVMathOperatorAssociativity::Left);
    // Asked twice, the parser reads the tokens again from the start.
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(parser->parsedExpressionWithError()->description(), QStringLiteral("pow(pow(2,3),2)"));
    EXPECT_FALSE(QVParser::parserWithTokenizer(nullptr));
}

TEST(MathParser, NestingIsBounded)
{
    const auto nested = [](int depth, const QString& open, const QString& close) {
        return open.repeated(depth) + QStringLiteral("1") + close.repeated(depth);
    };
    const QString tooDeep = QStringLiteral("error 7: nesting too deep");
    EXPECT_EQ(treeOf(nested(QVExpression::maximumDepth, QStringLiteral("("), QStringLiteral(")"))), QStringLiteral("1"));
    EXPECT_EQ(treeOf(nested(QVExpression::maximumDepth + 1, QStringLiteral("("), QStringLiteral(")"))), tooDeep);
    // Inside a call the bound is not reworded as a missing parenthesis.
    EXPECT_EQ(treeOf(nested(300, QStringLiteral("f("), QStringLiteral(")"))), tooDeep);
    EXPECT_EQ(treeOf(nested(300, QStringLiteral("-"), QString())), tooDeep);
    EXPECT_EQ(treeOf(QStringLiteral("-").repeated(200) + QStringLiteral("1")).count(QStringLiteral("negate")), 200);
    // Far beyond the bound the input is refused before any recursion.
    EXPECT_TRUE(treeOf(nested(100000, QStringLiteral("("), QStringLiteral(")"))).startsWith(QStringLiteral("error")));
}
