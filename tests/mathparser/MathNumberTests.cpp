// Numbers of mixed kinds compared, hashed, converted and written out; the
// error table's formatted texts and user-info keys.
#include "QVMathError.h"
#include "decimal/Number.h"

#include <gtest/gtest.h>

#include <QSet>

#include <limits>

namespace {

Number decimal(const char* text) { return Number(Decimal::parse(text).value_or(Decimal::notANumber())); }

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr int64_t int64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t int64Min = std::numeric_limits<int64_t>::min();
constexpr uint64_t uint64Max = std::numeric_limits<uint64_t>::max();

} // namespace

TEST(MathNumber, CompareAcrossKinds)
{
    using R = ComparisonResult;
    const struct {
        Number left, right;
        ComparisonResult expected;
    } cases[] = {
        {Number(int64_t(1)), Number(1.0), R::Same},
        {Number(int64_t(1)), decimal("1.000"), R::Same},
        {Number(uint64_t(1)), Number(int64_t(1)), R::Same},
        {Number(0.1), decimal("0.1"), R::Same},
        {Number(0.1), decimal("0.10000000000000001"), R::Ascending},
        {Number(-0.0), Number(int64_t(0)), R::Same},
        {Number(uint64Max), Number(int64_t(-1)), R::Descending},
        {Number(9223372036854775808.0), Number(uint64_t(1) << 63), R::Same},
        {Number(9223372036854775808.0), Number(int64Max), R::Descending},
        {Number(1e200), decimal("99999999999999999999999999999999999999e127"), R::Descending},
        {Number(-1e200), Number(int64Min), R::Ascending},
        {Number(1e-200), Number(int64_t(0)), R::Descending},
        {Number(1e-200), decimal("1e-128"), R::Ascending},
        {Number(inf), Number(1e300), R::Descending},
        {Number(-inf), Number(notANumber), R::Descending},
        {Number(notANumber), Number(Decimal::notANumber()), R::Same},
        {decimal("2.5"), Number(int64_t(3)), R::Ascending},
    };
    for (const auto& c : cases) {
        const std::string what = c.left.description() + " vs " + c.right.description();
        EXPECT_EQ(c.left.compare(c.right), c.expected) << what;
        EXPECT_EQ(static_cast<int>(c.right.compare(c.left)), -static_cast<int>(c.expected)) << what;
        if (c.expected == R::Same) {
            EXPECT_EQ(c.left.hash(), c.right.hash()) << what;
        }
    }
    const QSet<Number> set{Number(int64_t(1)), Number(1.0), decimal("1.0"), Number(uint64_t(1)), Number(2.0)};
    EXPECT_EQ(set.size(), 2);
}

TEST(MathNumber, Conversions)
{
    const struct {
        Number number;
        int64_t int64;
        uint64_t uint64;
        bool boolValue;
        std::string description;
    } cases[] = {
        {Number(-2.7), -2, 0, true, "-2.7"},
        {Number(0.0), 0, 0, false, "0"},
        {Number(1e30), int64Max, uint64Max, true, "1e+30"},
        {Number(-1e30), int64Min, 0, true, "-1e+30"},
        {Number(notANumber), 0, 0, true, "nan"},
        {Number(uint64Max), int64Max, uint64Max, true, "18446744073709551615"},
        {Number(int64_t(-5)), -5, 0, true, "-5"},
        {decimal("1e50"), int64Max, uint64Max, true, "100000000000000000000000000000000000000000000000000"},
        {decimal("-0.5"), 0, 0, true, "-0.5"},
        {decimal("0"), 0, 0, false, "0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.number.toInt64(), c.int64) << c.description;
        EXPECT_EQ(c.number.toUInt64(), c.uint64) << c.description;
        EXPECT_EQ(c.number.boolValue(), c.boolValue) << c.description;
        EXPECT_EQ(c.number.description(), c.description);
    }
    EXPECT_EQ(Number(0.1).toDecimal().toString(), "0.1");
    EXPECT_EQ(Number(int64Min).toDecimal().toString(), "-9223372036854775808");
    EXPECT_EQ(decimal("0.25").toDouble(), 0.25);
}

TEST(MathErrors, FormattedTextsAndKeys)
{
    const struct {
        Error error;
        int code;
        QString text;
    } cases[] = {
        {QVMathError::argumentCount("sin", 1, false), 17, "sin requires 1 argument"},
        {QVMathError::argumentCount("max", 2, true), 17, "max requires at least 2 arguments"},
        {QVMathError::invalidOperator(QChar(0x2260)), 2, QString(QChar(0x2260)) + " is not a valid operator"},
        {QVMathError::missingParentheses("f"), 7, "missing parentheses after function \"f\""},
        {QVMathError::unknownPrecedence("%1"), 6, "unknown precedence for token: %1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.code, c.code) << c.text.toStdString();
        EXPECT_EQ(c.error.localizedDescription(), c.text);
    }
    const Error variable = QVMathError::unresolvedVariable("$x", "x");
    EXPECT_EQ(variable.userInfo.value("net.brindlewick.notes.math.Variable").toString(), "x");
    EXPECT_EQ(QVMathError::unresolvedFunction("f").userInfo.value(QVMathError::functionKey()).toString(), "f");
    EXPECT_EQ(variable.description(),
              "Error Domain=net.brindlewick.notes.math Code=14 \"unable to resolve variable: $x\"");
}
