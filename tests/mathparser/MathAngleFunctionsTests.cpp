// The angle functions in radians and degrees, the constants, the logical
// functions (NaN unordered) and the list of standard names.
#include "QVFunctionEvaluator.h"
#include "QVMathEvaluator.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

std::optional<Number> evaluate(QVMathEvaluator& evaluator, const char* text, Error* error = nullptr)
{
    return evaluator.evaluateString(QString::fromUtf8(text), {}, error);
}

} // namespace

TEST(MathFunctions, StandardNamesAndAliases)
{
    const QStringList& names = QVFunctionEvaluator::standardFunctions();
    ASSERT_EQ(names.size(), 89);
    EXPECT_EQ(names.mid(0, 5), QStringList({"abs", "acos", "acosh", "acotan", "acotanh"}));
    EXPECT_EQ(names.mid(85), QStringList({"tau", "vercosin", "versin", "xor"}));
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_TRUE(QVFunctionEvaluator::isStandardFunction(QStringLiteral("ADD")));
    EXPECT_TRUE(QVFunctionEvaluator::isStandardFunction(QStringLiteral("Pi")));
    EXPECT_FALSE(QVFunctionEvaluator::isStandardFunction(QStringLiteral("evaluateFunction")));
    EXPECT_FALSE(QVFunctionEvaluator::isStandardFunction(QStringLiteral("positive")));

    QVMathEvaluator evaluator;
    const QStringList registered = evaluator.registeredFunctions();
    const auto firstGreek = std::find_if(registered.begin(), registered.end(),
                                         [](const QString& name) { return name.at(0).unicode() > 0x7f; });
    EXPECT_TRUE(std::all_of(firstGreek, registered.end(), [](const QString& n) { return n.at(0).unicode() > 0x7f; }));
    EXPECT_EQ(registered.end() - firstGreek, 3);
    const std::pair<const char*, const char*> same[] = {
        {"AVG(1, 2, 3)", "average(1, 2, 3)"}, {"mean(1, 2, 4)", "average(1, 2, 4)"}, {"SQRT(4)", "sqrt(4)"},
        {"π", "pi"}, {"tau_2", "pi"}, {"trunc(-1.5)", "floor(-1.5)"}, {"τ", "2 * pi"}, {"modulo(7, 4)", "mod(7, 4)"},
    };
    for (const auto& [alias, function] : same)
        EXPECT_EQ(evaluate(evaluator, alias), evaluate(evaluator, function)) << alias;
}

TEST(MathFunctions, AnglesInBothModes)
{
    const struct {
        int64_t mode;
        const char* text;
        double value;
    } cases[] = {
        {0, "asin(0.5)", 0.5235987755982989}, {0, "acsc(2)", 0.5235987755982989},
        {0, "acotan(1)", 0.7853981633974483}, {0, "acotan(-1)", 2.356194490192345},
        {0, "haversin(pi / 3)", 0.24999999999999994}, {0, "crd(pi)", 2.0}, {0, "exsec(0)", 0.0},
        {0, "sin(0)", 0.0}, {0, "sec(pi / 2)", 1.633123935319537e16}, {0, "dtor(180)", 3.141592653589793},
        {1, "dtor(180)", 3.141592653589793}, {0, "rtod(pi)", 180.0}, {1, "rtod(pi)", 180.0},
        {1, "sin(30)", 0.49999999999999994}, {1, "sin(30°)", 0.49999999999999994},
        {1, "asin(0.5)", 30.000000000000004}, {1, "sinh(1)", 0.01745417862959511}, {1, "tau", 6.283185307179586},
    };
    for (const auto& c : cases) {
        QVMathEvaluator evaluator;
        evaluator.setAngleMeasurementMode(c.mode);
        const auto value = evaluate(evaluator, c.text);
        ASSERT_TRUE(value) << c.text;
        EXPECT_EQ(value->kind(), Number::Kind::Double) << c.text;
        EXPECT_NEAR(value->toDouble(), c.value, std::abs(c.value) * 1e-15) << c.text << " mode " << c.mode;
    }
}

TEST(MathFunctions, LogicalFunctionsTreatNaNAsUnordered)
{
    const std::pair<const char*, int64_t> cases[] = {
        {"l_and(1, 0)", 0},      {"l_and(0.5, 1)", 1},     {"l_or(0, 2)", 1},       {"l_or(0, 0)", 0},
        {"l_not(0)", 1},         {"l_not(-0.5)", 0},       {"l_eq(2, 2.0)", 1},     {"l_gtoe(3, 3)", 1},
        {"l_lt(3, 3)", 0},       {"l_ltoe(2, 3)", 1},      {"l_gt(3, 2.5)", 1},     {"l_neq(1, 1)", 0},
        {"l_eq(0/0, 0/0)", 0},   {"l_neq(0/0, 0/0)", 1},   {"l_lt(0/0, 1)", 0},     {"l_gtoe(0/0, 0/0)", 0},
        {"l_ltoe(1, 0/0)", 0},   {"2 == 2.0 && 1 < 2", 1}, {"!(3 >= 4) || 0", 1},   {"l_and(0/0, 1)", 1},
    };
    QVMathEvaluator evaluator;
    for (const auto& [text, expected] : cases) {
        const auto value = evaluate(evaluator, text);
        ASSERT_TRUE(value) << text;
        EXPECT_EQ(value->kind(), Number::Kind::Int64) << text;
        EXPECT_EQ(value->toInt64(), expected) << text;
    }
    Error error; // no short cut: the unresolved second operand fails the call
    EXPECT_FALSE(evaluate(evaluator, "l_and(0, $unset)", &error));
    EXPECT_EQ(error.code, 14);
}
