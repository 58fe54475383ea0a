// The standard functions: values and the kind of number each gives, argument
// counts checked before anything is evaluated, integer conversions without
// undefined behaviour, random ranges and percent's context.
#include "QVMathEvaluator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

using Kind = Number::Kind;
constexpr int64_t int64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t int64Min = std::numeric_limits<int64_t>::min();

std::optional<Number> evaluate(QVMathEvaluator& evaluator, const QString& text, Error* error = nullptr)
{
    return evaluator.evaluateString(text, {{QStringLiteral("two"), QVariant::fromValue(Number(int64_t(2)))}}, error);
}

} // namespace

TEST(MathFunctions, ValuesAndKinds)
{
    const struct {
        const char* text;
        Number value;
    } cases[] = {
        {"1 / 0", Number(std::numeric_limits<double>::infinity())},
        {"mod(7, -3)", Number(1.0)},
        {"mod(-7, 3)", Number(-1.0)},
        {"negate(0)", Number(-0.0)},
        {"5!", Number(uint64_t(120))},
        {"1!", Number(uint64_t(1))},
        {"20!", Number(uint64_t(2432902008176640000u))},
        {"0!", Number(1.0)},
        {"1000000000000000000!", Number(std::numeric_limits<double>::infinity())},
        {"nthroot(16, 4)", Number(2.0)},
        {"rshift(-8, 1)", Number(int64_t(-4))},
        {"lshift(1, 65)", Number(int64_t(2))},
        {"lshift(1, -1)", Number(int64Min)},
        {"not(0)", Number(int64_t(-1))},
        {"and(6.9, 3)", Number(int64_t(2))},
        {"xor(5, 3)", Number(int64_t(6))},
        {"or(0/0, 1e300)", Number(int64Max)},
        {"abs(-3.9)", Number(int64_t(3))},
        {"abs(-9223372036854775808)", Number(int64Max)},
        {"count(1, 2, $x)", Number(Decimal::fromInteger(3))},
        {"sum(1, 2.5)", Number(3.5)},
        {"average(1, 2)", Number(1.5)},
        {"median(4, 1, 3, 2)", Number(2.5)},
        {"median(3, 1, 2)", Number(Decimal::fromInteger(2))},
        {"stddev(2, 4, 4, 4, 5, 5, 7, 9)", Number(2.0)},
        {"min($two, 2.0)", Number(int64_t(2))},
        {"max(1, 3, $two)", Number(Decimal::fromInteger(3))},
        {"max(1e400, 1e401)", Number(std::numeric_limits<double>::infinity())},
        {"log(1000)", Number(3.0)},
        {"ln(0)", Number(-std::numeric_limits<double>::infinity())},
        {"ceil(-1.5)", Number(-1.0)},
        {"floor(-1.5)", Number(-2.0)},
        {"sqrt(-1)", Number(std::nan(""))},
        {"50 + percent(10)", Number(55.0)},
        {"50 - percent(10)", Number(45.0)},
        {"percent(10) + 50", Number(50.1)},
        {"2 * percent(10)", Number(0.2)},
        {"random(5, 6)", Number(int64_t(5))},
        {"random(-3, 1)", Number(int64_t(0))},
    };
    QVMathEvaluator evaluator;
    for (const auto& c : cases) {
        Error error;
        const auto value = evaluate(evaluator, QString::fromUtf8(c.text), &error);
        ASSERT_TRUE(value) << c.text << ": " << qPrintable(error.description());
        EXPECT_EQ(*value, c.value) << c.text << " gave " << value->description();
        EXPECT_EQ(value->kind(), c.value.kind()) << c.text;
    }
    // Past 20! the 64-bit product would wrap: the gamma function answers.
    const auto beyond = evaluate(evaluator, QStringLiteral("21!"));
    EXPECT_EQ(beyond->kind(), Kind::Double);
    EXPECT_NEAR(beyond->toDouble() / 51090942171709440000.0, 1.0, 1e-14);
}

TEST(MathFunctions, CountsAreCheckedBeforeEvaluation)
{
    QVMathEvaluator evaluator;
    int evaluated = 0;
    evaluator.registerFunction([&evaluated](const QList<QVExpressionPtr>&, const QVSubstitutions&, QVMathEvaluator&, Error*) {
        ++evaluated;
        return QVariant::fromValue(Number(int64_t(1)));
    }, QStringLiteral("probe"));
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"add(probe())", "add:variables:error: requires 2 arguments"},
        {"sqrt(probe(), probe())", "sqrt:variables:error: requires 1 argument"},
        {"sum()", "sum:variables:error: requires at least 1 argument"},
        {"average(probe())", "average:variables:error: requires at least 2 arguments"},
        {"random(probe(), probe(), probe())", "random() may only have up to 2 arguments"},
        {"random(5, 3)", "random() lower bound must be below upper bound"},
        {"random(4294967295)", "random() lower bound must be below upper bound"},
        {"median(probe())", "median:variables:error: requires at least 2 arguments"},
        {"pi(probe())", "pi:variables:error: requires 0 arguments"},
        {"sin(probe(), probe())", "sin:variables:error: requires 1 argument"},
        {"l_and(probe())", "l_and:variables:error: requires 2 arguments"},
        {"count()", "count:variables:error: requires at least 1 argument"},
        {"haversin()", "haversin:variables:error: requires 1 argument"},
    };
    // The high-precision built-ins check their counts the same way.
    for (const bool precise : {false, true}) {
        evaluator.setUsesHighPrecisionEvaluation(precise);
        for (const auto& c : cases) {
            Error error;
            EXPECT_FALSE(evaluate(evaluator, QString::fromUtf8(c.text), &error)) << c.text << " " << precise;
            EXPECT_EQ(error.code, 17) << c.text;
            EXPECT_EQ(error.localizedDescription(), QString::fromUtf8(c.message)) << precise;
        }
    }
    EXPECT_EQ(evaluated, 0);
}

TEST(MathFunctions, RandomStaysInItsRange)
{
    QVMathEvaluator evaluator;
    for (int i = 0; i < 200; ++i) {
        const int64_t drawn = evaluate(evaluator, QStringLiteral("random(4294967290)"))->toInt64();
        EXPECT_TRUE(drawn >= 4294967290 && drawn < 4294967295) << drawn;
        const int64_t any = evaluate(evaluator, QStringLiteral("random()"))->toInt64();
        EXPECT_TRUE(any >= 0 && any < 4294967295) << any;
    }
}

// The switch is on the shared default set, so it runs in a child process.
TEST(MathFunctions, PercentSignReadAsPercent)
{
    const auto run = [] {
        QVMathOperatorSet::defaultOperatorSet()->setInterpretsPercentSignAsModulo(false);
        QVMathEvaluator evaluator;
        const struct {
            const char* text;
            double value;
        } cases[] = {{"50 + 10%", 55}, {"50 - 10%", 45}, {"10% + 50", 50.1}, {"10%", 0.1}};
        for (const auto& c : cases) {
            if (evaluate(evaluator, QString::fromUtf8(c.text)) != Number(c.value)) {
                std::fprintf(stderr, "wrong: %s\n", c.text);
                std::exit(1);
            }
        }
        std::exit(0);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(0), "");
}
