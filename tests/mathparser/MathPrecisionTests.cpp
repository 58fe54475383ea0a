// The high-precision built-ins: decimal results where double would round,
// the kinds each gives, factorial's bounds, statistics, percent's context,
// degree mode through the decimal conversions, and the inherited built-ins.
#include "QVDecimalMath.h"
#include "QVMathEvaluator.h"
#include "QVMathOperatorSet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

using Kind = Number::Kind;

Decimal decimal(const char* text) { return *Decimal::parse(text); }

struct PreciseEvaluator : QVMathEvaluator {
    PreciseEvaluator() { setUsesHighPrecisionEvaluation(true); }
    std::optional<Number> operator()(const char* text, Error* error = nullptr)
    {
        return evaluateString(QString::fromUtf8(text), {}, error);
    }
};

bool near(const Number& value, const Decimal& expected)
{
    const Decimal difference = QVDecimalAbsoluteValue(QVDecimalSubtract(value.toDecimal(), expected));
    return DecimalCompare(difference, decimal("1e-30")) == ComparisonResult::Ascending;
}

} // namespace

TEST(MathPrecision, ExactDecimalResults)
{
    const std::pair<const char*, const char*> cases[] = {
        {"0.1 + 0.2", "0.3"}, {"5!", "120"}, {"0!", "1"}, {"1!", "1"}, {"count($unset)", "1"},
        {"count(1, 2, 3)", "3"}, {"median(4, 1, 3, 2)", "2.5"}, {"average(1, 2)", "1.5"},
        {"sum(0.1, 0.2, 0.3)", "0.6"}, {"ceil(-1.5)", "-1"}, {"floor(-1.5)", "-2"}, {"abs(-0.25)", "0.25"},
        {"1 / 3 * 3", "0.99999999999999999999999999999999999999"}, {"mod(-1, 3)", "2"}, {"lshift(1, 3)", "8"},
        {"rshift(20, 2)", "5"}, {"negate(2.5)", "-2.5"}, {"2 ** 10", "1024"},
    };
    PreciseEvaluator evaluate;
    for (const auto& [text, expected] : cases) {
        const auto value = evaluate(text);
        ASSERT_TRUE(value) << text;
        EXPECT_EQ(value->kind(), Kind::Decimal) << text;
        EXPECT_EQ(value->toDecimal().toString(), decimal(expected).toString()) << text;
    }
    QVMathEvaluator doubles;
    EXPECT_EQ(doubles.evaluateString(QStringLiteral("0.1 + 0.2"))->toDouble(), 0.1 + 0.2);
}

TEST(MathPrecision, RoutinesToTheirPrecision)
{
    const struct {
        int64_t mode;
        const char* text;
        Decimal expected;
    } cases[] = {
        {0, "stddev(2, 4, 4, 4, 5, 5, 7, 9)", QVDecimalTwo()}, {0, "nthroot(16, 4)", QVDecimalTwo()},
        {0, "crd(pi)", QVDecimalTwo()}, {0, "dtor(180)", QVDecimalPi()}, {1, "dtor(180)", QVDecimalPi()},
        {0, "tau - 2 * pi", QVDecimalZero()}, {1, "sin(90)", QVDecimalOne()}, {1, "sin(90°)", QVDecimalOne()},
        {1, "asin(1)", QVDecimalFromInteger(90)}, {1, "sinh(180) - sinh(dtor(180))", QVDecimalZero()},
        {0, "haversin(pi / 3)", decimal("0.25")}, {1, "haversin(60)", decimal("0.25")},
        {0, "exsec(0) + excsc(pi / 2)", QVDecimalZero()},
    };
    for (const auto& c : cases) {
        PreciseEvaluator evaluate;
        evaluate.setAngleMeasurementMode(c.mode);
        const auto value = evaluate(c.text);
        ASSERT_TRUE(value) << c.text;
        EXPECT_TRUE(near(*value, c.expected)) << c.text << " gave " << value->description();
    }
}

TEST(MathPrecision, FactorialBoundsAndDoubleRoutes)
{
    PreciseEvaluator evaluate;
    EXPECT_TRUE(evaluate("(-3)!")->isNaN());
    EXPECT_EQ(evaluate("2.5!")->kind(), Kind::Double);
    EXPECT_EQ(evaluate("2.5!")->toDouble(), std::tgamma(3.5));
    EXPECT_EQ(evaluate("30!")->toDecimal().toString(), "265252859812191058636308480000000");
    // Far beyond the type's range: answered at once rather than counted down.
    for (const char* huge : {"201!", "(10 ** 38)!", "(10 ** 100)!"})
        EXPECT_TRUE(evaluate(huge)->isNaN()) << huge;
    for (const char* text : {"log(100)", "ln(1)", "log2(8)", "exp(0)"})
        EXPECT_EQ(evaluate(text)->kind(), Kind::Double) << text;
    EXPECT_EQ(evaluate("log2(8)")->toDouble(), 3.0);
}

// The parser reads "%" through the shared default set, so the switch runs in
// a child process.
TEST(MathPrecision, PercentTakesItsShareOfTheFirstOperand)
{
    const auto run = [] {
        QVMathOperatorSet::defaultOperatorSet()->setInterpretsPercentSignAsModulo(false);
        PreciseEvaluator evaluate;
        const std::pair<const char*, const char*> cases[] = {{"200 + 10%", "220"}, {"200 - 10%", "180"},
            {"10% + 200", "200.1"}, {"200 * 10%", "20"}, {"10%", "0.1"}, {"200 + percent(10)", "220"}};
        for (const auto& [text, expected] : cases) {
            const auto value = evaluate(text);
            if (!value || value->toDecimal().toString() != decimal(expected).toString()) {
                std::fprintf(stderr, "wrong: %s\n", text);
                std::exit(1);
            }
        }
        Error error;
        std::exit(!evaluate("$unset + 10%", &error) && error.code == 14 ? 0 : 1);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(0), "");
}

TEST(MathPrecision, InheritedBuiltinsAnswer)
{
    PreciseEvaluator evaluate;
    const std::pair<const char*, double> inherited[] = {
        {"min(3, 1.5)", 1.5}, {"max(3, 1.5)", 3},   {"random(5, 6)", 5}, {"and(6, 3)", 2},
        {"xor(6, 3)", 5},     {"l_and(1, 0)", 0},   {"l_eq(2, 2.0)", 1}, {"3 > 2", 1},
    };
    for (const auto& [text, expected] : inherited) {
        const auto value = evaluate(text);
        ASSERT_TRUE(value) << text;
        EXPECT_EQ(value->toDouble(), expected) << text;
    }
}
