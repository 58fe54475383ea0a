// Expression nodes: naming, equality and hashing, variables' "$", folding of
// constant sub-trees, deep copies and archives that keep number kinds.
#include "QVExpression.h"
#include "QVMathEvaluator.h"
#include "QVMathStringTokenizer.h"

#include <gtest/gtest.h>

#include <QCborArray>

namespace {

QVExpressionPtr number(int64_t value) { return QVExpression::numberExpressionWithNumber(Number(value)); }
QVExpressionPtr parse(const char* text) { return QVExpression::expressionFromString(QString::fromUtf8(text)); }

} // namespace

TEST(MathExpression, EqualityIgnoresNameCaseAndNumberKind)
{
    const auto upper = QVExpression::functionExpressionWithFunction(QStringLiteral("Add"), {number(1), number(2)});
    const auto lower = QVExpression::functionExpressionWithFunction(QStringLiteral("add"), {number(1), number(2)});
    EXPECT_EQ(upper->description(), QStringLiteral("add(1,2)"));
    EXPECT_EQ(upper->function(), QStringLiteral("add"));
    EXPECT_EQ(*upper, *lower);
    EXPECT_EQ(upper->hash(), lower->hash());
    EXPECT_FALSE(*upper == *QVExpression::functionExpressionWithFunction(QStringLiteral("add"), {number(2), number(1)}));
    // Numbers are equal by value, whatever their kind.
    const auto real = QVExpression::numberExpressionWithNumber(Number(1.0));
    EXPECT_EQ(*number(1), *real);
    EXPECT_EQ(number(1)->hash(), real->hash());
    EXPECT_FALSE(*number(1) == *QVExpression::variableExpressionWithVariable(QStringLiteral("1")));
    EXPECT_THROW(upper->variable(), std::logic_error);
    EXPECT_THROW(number(1)->arguments(), std::logic_error);

    Error error;
    EXPECT_FALSE(QVExpression::functionExpressionWithFunction(QStringLiteral("add"), {number(1), nullptr}, &error));
    EXPECT_EQ(error.code, 18);
}

TEST(MathExpression, Variables)
{
    EXPECT_FALSE(QVExpression::variableExpressionWithVariable(QStringLiteral("$")));
    EXPECT_FALSE(QVExpression::variableExpressionWithVariable(QString()));
    EXPECT_EQ(*QVExpression::variableExpressionWithVariable(QStringLiteral("$x")),
              *QVExpression::variableExpressionWithVariable(QStringLiteral("x")));
    EXPECT_FALSE(*QVExpression::variableExpressionWithVariable(QStringLiteral("X"))
                 == *QVExpression::variableExpressionWithVariable(QStringLiteral("x")));
    const auto doubled = QVExpression::variableExpressionWithVariable(QStringLiteral("$$x"));
    EXPECT_EQ(doubled->variable(), QStringLiteral("$x"));
    EXPECT_EQ(doubled->copy()->variable(), QStringLiteral("x"));
    EXPECT_EQ(QVExpression::fromArchive(doubled->archive())->variable(), QStringLiteral("x"));
}

TEST(MathExpression, Simplify)
{
    EXPECT_EQ(parse("2 * 3 + $x")->simplifiedExpression()->description(), QStringLiteral("add(6,$x)"));
    EXPECT_EQ(parse("sqrt(16)")->simplifiedExpression()->description(), QStringLiteral("4"));

    const auto unknown = parse("nothing(1)");
    Error error;
    EXPECT_EQ(unknown->simplifiedExpressionWithEvaluator(nullptr, &error)->description(), QStringLiteral("nothing(1)"));
    EXPECT_EQ(error.code, 15);
    EXPECT_FALSE(unknown->simplifiedExpression());
}

TEST(MathExpression, CopyIsDeep)
{
    const auto original = parse("ADD(1, $x)");
    const auto copy = original->copy();
    EXPECT_EQ(*copy, *original);
    EXPECT_NE(copy, original);
    EXPECT_FALSE(copy->parentExpression());
    for (qsizetype i = 0; i < 2; ++i) {
        EXPECT_NE(copy->arguments().at(i), original->arguments().at(i));
        EXPECT_EQ(copy->arguments().at(i)->parentExpression(), copy);
        EXPECT_EQ(original->arguments().at(i)->parentExpression(), original);
    }
}

TEST(MathExpression, ArchiveKeepsNumberKinds)
{
    const Number numbers[] = {Number(int64_t(-7)), Number(uint64_t(18446744073709551615u)), Number(0.1),
                              Number(Decimal::parse("1.25").value()), Number(Decimal::notANumber())};
    for (const Number& n : numbers) {
        const auto call = QVExpression::functionExpressionWithFunction(
            QStringLiteral("f"), {QVExpression::numberExpressionWithNumber(n), QVExpression::variableExpressionWithVariable(QStringLiteral("y"))});
        const auto decoded = QVExpression::fromArchive(call->archive());
        ASSERT_TRUE(decoded) << n.description();
        EXPECT_EQ(*decoded, *call) << n.description();
        EXPECT_EQ(decoded->arguments().front()->number().kind(), n.kind());
        EXPECT_EQ(decoded->arguments().front()->parentExpression(), decoded);
    }
}

TEST(MathExpression, BadArchivesGiveNothing)
{
    QCborMap notAnArgument;
    notAnArgument.insert(QStringLiteral("function"), QStringLiteral("f"));
    notAnArgument.insert(QStringLiteral("arguments"), QCborArray{1});
    EXPECT_FALSE(QVExpression::fromArchive(notAnArgument));
    EXPECT_FALSE(QVExpression::fromArchive(QCborMap()));

    // As many calls deep as the tokenizer allows tokens are decoded, one more is not.
    QCborMap deep = number(1)->archive();
    const auto wrap = [&deep] {
        QCborMap outer;
        outer.insert(QStringLiteral("function"), QStringLiteral("negate"));
        outer.insert(QStringLiteral("arguments"), QCborArray{deep});
        deep = outer;
    };
    for (int i = 0; i < QVMathStringTokenizer::maximumTokenCount; ++i)
        wrap();
    const QVExpressionPtr deepest = QVExpression::fromArchive(deep);
    ASSERT_TRUE(deepest);
    EXPECT_EQ(deepest->archive(), deep);
    wrap();
    EXPECT_FALSE(QVExpression::fromArchive(deep));
}
