// Pinned values of the decimal routines, the conversions to and from machine
// numbers, and a randomized run of every routine over awkward values.
#include "QVDecimalMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>

namespace {

Decimal d(const char* text)
{
    const auto value = Decimal::parse(text);
    EXPECT_TRUE(value) << text;
    return value.value_or(Decimal::notANumber());
}

Decimal fromDouble(double value) { return Decimal::fromDouble(value); }

struct Pin {
    const char* what;
    std::function<Decimal()> compute;
    Decimal expected;
    const char* relativeTolerance = nullptr; // exact when none
};

bool valid(const Decimal& x)
{
    static const Decimal::Coefficient limit = [] {
        Decimal::Coefficient p = 1;
        for (int i = 0; i < Decimal::maxDigits; ++i)
            p *= 10;
        return p;
    }();
    return x.isNaN() || (x.mantissa() < limit && x.exponent() >= Decimal::minExponent
                         && x.exponent() <= Decimal::maxExponent && !(x.isZero() && x.isNegative()));
}

} // namespace

TEST(MathDecimalRoutines, PinnedValues)
{
    const Decimal pi = QVDecimalPi();
    const Decimal nan = Decimal::notANumber();
    const std::vector<Pin> pins{
        {"pow(0, 0)", [] { return QVDecimalPower(d("0"), d("0")); }, d("1")},
        {"pow(2, 10)", [] { return QVDecimalPower(d("2"), d("10")); }, d("1024")},
        {"pow(2, -1)", [] { return QVDecimalPower(d("2"), d("-1")); }, d("0.5")},
        {"pow(2, 0.5)", [] { return QVDecimalPower(d("2"), d("0.5")); }, fromDouble(std::sqrt(2.0))},
        {"pow(1.5, 2^64-1)", [] { return QVDecimalPower(d("1.5"), d("18446744073709551615")); }, nan},
        {"0!", [] { return QVDecimalFactorial(d("0")); }, d("1")},
        {"5!", [] { return QVDecimalFactorial(d("5")); }, d("120")},
        {"(-5)!", [] { return QVDecimalFactorial(d("-5")); }, d("120")},
        {"2.5!", [] { return QVDecimalFactorial(d("2.5")); }, fromDouble(std::tgamma(3.5))},
        {"(10^50)!", [] { return QVDecimalFactorial(d("1E50")); }, nan},
        {"7 mod 3", [] { return QVDecimalMod(d("7"), d("3")); }, d("1")},
        {"-1 mod 3", [] { return QVDecimalMod(d("-1"), d("3")); }, d("2")},
        {"7 mod -3", [] { return QVDecimalMod(d("7"), d("-3")); }, d("-2")},
        {"1 mod 0", [] { return QVDecimalMod(d("1"), d("0")); }, nan},
        {"reduce(pi)", [] { return QVDecimalReduceAngle(QVDecimalPi()); }, pi},
        {"reduce(-pi)", [] { return QVDecimalReduceAngle(QVDecimalMultiply(QVDecimalPi(), d("-1"))); }, pi},
        {"reduce(3pi/2)",
         [] { return QVDecimalReduceAngle(QVDecimalDivide(QVDecimalMultiply(QVDecimalPi(), d("3")), d("2"))); },
         QVDecimalMultiply(QVDecimalPi_2(), d("-1"))},
        {"3 << 2", [] { return QVDecimalLeftShift(d("3"), d("2")); }, d("12")},
        {"3 << 2.9", [] { return QVDecimalLeftShift(d("3"), d("2.9")); }, d("12")},
        {"3 << -1", [] { return QVDecimalLeftShift(d("3"), d("-1")); }, d("1.5")},
        {"5 >> 1", [] { return QVDecimalRightShift(d("5"), d("1")); }, d("2.5")},
        {"1 >> 1", [] { return QVDecimalRightShift(d("1"), d("1")); }, d("0")},
        {"-3 << 1", [] { return QVDecimalLeftShift(d("-3"), d("1")); }, d("0")},
        {"0.5 << 0", [] { return QVDecimalLeftShift(d("0.5"), d("0")); }, d("0")},
        {"3 << 10^50", [] { return QVDecimalLeftShift(d("3"), d("1E50")); }, d("0")}, // overflows to NaN, below 1
        {"10^100 >> 10^50", [] { return QVDecimalRightShift(d("1E100"), d("1E50")); }, d("0")},
        {"asin(1)", [] { return QVDecimalAsin(d("1")); }, QVDecimalPi_2()},
        {"asin(-1)", [] { return QVDecimalAsin(d("-1")); }, QVDecimalMultiply(QVDecimalPi_2(), d("-1"))},
        {"asin(1.5)", [] { return QVDecimalAsin(d("1.5")); }, nan},
        {"atan(1)", [] { return QVDecimalAtan(d("1")); }, QVDecimalPi_4(), "1E-36"},
        {"atan(1E100)", [] { return QVDecimalAtan(d("1E100")); }, QVDecimalPi_2(), "1E-36"},
        {"acot(0.75)", [] { return QVDecimalAcot(d("0.75")); }, d("0.92729521800161223242851246292242880405"), "1E-36"},
        {"acsc(2)", [] { return QVDecimalAcsc(d("2")); }, QVDecimalDivide(QVDecimalPi(), d("6")), "1E-36"},
        {"cosh(10)", [] { return QVDecimalCosh(d("10")); }, d("11013.232920103323139721376090437879963"), "1E-36"},
        {"tanh(44)", [] { return QVDecimalTanh(d("44")); }, d("1"), "1E-35"},
        {"tanh(-1000)", [] { return QVDecimalTanh(d("-1000")); }, d("-1")},
        {"sech(1000)", [] { return QVDecimalSech(d("1000")); }, d("0")},
        {"csch(-1000)", [] { return QVDecimalCsch(d("-1000")); }, d("0")},
        {"sech(NaN)", [] { return QVDecimalSech(Decimal::notANumber()); }, nan},
        {"asinh(2)", [] { return QVDecimalAsinh(d("2")); }, fromDouble(std::asinh(2.0))},
        {"atanh(1)", [] { return QVDecimalAtanh(d("1")); }, nan},
        {"sqrt(-4)", [] { return QVDecimalSqrt(d("-4")); }, nan},
        {"sqrt(0)", [] { return QVDecimalSqrt(d("0")); }, d("0")},
        {"cube root of -27", [] { return QVDecimalNthRoot(d("-27"), d("3")); }, d("-3")},
        {"-2nd root of 4", [] { return QVDecimalNthRoot(d("4"), d("-2")); }, d("0.5")},
        {"(2^64 - 1)th root of 2", [] { return QVDecimalNthRoot(d("2"), d("18446744073709551615")); },
         d("1.0000000000000000000375755839507647455"), "1E-36"},
        {"square root of -4", [] { return QVDecimalNthRoot(d("-4"), d("2")); }, nan},
        {"tau", [] { return QVDecimalTau(); }, d("6.2831853071795864769252867665590057684")},
        {"from integer -7", [] { return QVDecimalFromInteger(-7); }, d("-7")},
    };
    for (const Pin& pin : pins) {
        const Decimal actual = pin.compute();
        if (!pin.relativeTolerance) {
            EXPECT_EQ(actual.toString(), pin.expected.toString()) << pin.what;
            continue;
        }
        const Decimal error = QVDecimalAbsoluteValue(QVDecimalDivide(QVDecimalSubtract(actual, pin.expected), pin.expected));
        EXPECT_TRUE(!error.isNaN() && DecimalCompare(error, d(pin.relativeTolerance)) == ComparisonResult::Ascending)
            << pin.what << " gave " << actual.toString();
    }
}

TEST(MathDecimalRoutines, Predicates)
{
    const struct {
        const char* value;
        bool isInteger, isNegative;
    } rows[] = {{"-2", true, true}, {"-2.5", false, true}, {"0", true, false},
                {"1E100", true, false}, {"1E-100", false, false}, {"123.000", true, false}};
    for (const auto& row : rows) {
        EXPECT_EQ(QVDecimalIsInteger(d(row.value)), row.isInteger) << row.value;
        EXPECT_EQ(QVDecimalIsNegative(d(row.value)), row.isNegative) << row.value;
    }
    EXPECT_FALSE(QVDecimalIsInteger(Decimal::notANumber()));
    EXPECT_TRUE(QVDecimalIsApproximatelyEqual(d("1"), d("1.00000000000000000000000000000000000001")));
    EXPECT_FALSE(QVDecimalIsApproximatelyEqual(d("1"), d("1.0000000000000000000000000000000001")));
    EXPECT_NE(DecimalCompare(Decimal::notANumber(), Decimal::notANumber()), ComparisonResult::Same);
}

TEST(MathDecimalRoutines, InPlaceNegateAndInvert)
{
    Decimal x = d("-0.25");
    QVDecimalNegate(&x);
    EXPECT_EQ(x.toString(), "0.25");
    QVDecimalInvert(&x);
    EXPECT_EQ(x.toString(), "4");
    x = Decimal();
    QVDecimalInvert(&x);
    EXPECT_TRUE(x.isNaN());
}

TEST(MathDecimalConversions, DoublesRoundTripThroughShortestDigits)
{
    const struct {
        double value;
        const char* text;
    } rows[] = {{0.1, "0.1"},       {-2.5, "-2.5"},   {1e-128, nullptr},
                {123456789.0, "123456789"}, {-0.0, "0"}, {5e-324, "0"}, {1e300, "NaN"},
                {std::numeric_limits<double>::infinity(), "NaN"}, {std::nan(""), "NaN"}};
    const std::string tiny = "0." + std::string(127, '0') + "1"; // 1E-128
    for (const auto& row : rows)
        EXPECT_EQ(Decimal::fromDouble(row.value).toString(), row.text ? row.text : tiny) << row.value;
    for (double value : {0.1, 1.0 / 3.0, 2.0 / 3.0, -1e-100, 1e100, 123.456, 6.02214076e23})
        EXPECT_EQ(Decimal::fromDouble(value).toDouble(), value);
    // Correctly rounded, not the nearest double of a truncated or twice-rounded text.
    EXPECT_EQ(d("0.30000000000000001665334536938156540").toDouble(), 0.30000000000000004);
    EXPECT_EQ(d("9007199254740993").toDouble(), 9007199254740992.0);
    EXPECT_EQ(d("1E-128").toFloat(), 0.0f);
    EXPECT_EQ(d("-1E100").toFloat(), -std::numeric_limits<float>::infinity());
    EXPECT_TRUE(std::isnan(Decimal::notANumber().toDouble()));
}

TEST(MathDecimalConversions, IntegersTruncateAndSaturate)
{
    const struct {
        const char* text;
        int64_t signedValue;
        uint64_t unsignedValue;
    } rows[] = {
        {"-2.9", -2, 0},
        {"2.9", 2, 2},
        {"1E30", std::numeric_limits<int64_t>::max(), std::numeric_limits<uint64_t>::max()},
        {"-1E30", std::numeric_limits<int64_t>::min(), 0},
        {"9223372036854775808", std::numeric_limits<int64_t>::max(), 9223372036854775808u},
        {"-9223372036854775808", std::numeric_limits<int64_t>::min(), 0},
        {"18446744073709551616", std::numeric_limits<int64_t>::max(), std::numeric_limits<uint64_t>::max()},
        {"1E-100", 0, 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(d(row.text).toInt64(), row.signedValue) << row.text;
        EXPECT_EQ(d(row.text).toUInt64(), row.unsignedValue) << row.text;
    }
    EXPECT_EQ(Decimal::notANumber().toInt64(), 0);
    EXPECT_EQ(QVUIntegerFromDecimal(Decimal::notANumber()), 0u);
    EXPECT_EQ(Decimal::fromInteger(std::numeric_limits<int64_t>::min()).toString(), "-9223372036854775808");
}

TEST(MathDecimalConversions, TextThatIsNotANumberIsRejected)
{
    for (const char* text : {"", ".", "-", "+.", "1e", "1e+", "e5", "abc", "1.2.3", "--1", " 1", "1 ", "NaN", "0x10",
                             "1e5x", "1,5"})
        EXPECT_FALSE(Decimal::parse(text)) << '"' << text << '"';
    EXPECT_EQ(Decimal::notANumber().toString(), "NaN");
    EXPECT_EQ(d("1e999999999999999999999").toString(), "NaN");
    EXPECT_EQ(d("1e-999999999999999999999").toString(), "0");
}

// Awkward values through every routine: each result is a well-formed decimal
// or NaN, within the routine's range, and nothing runs unbounded.
TEST(MathDecimalRoutines, RandomValuesStayWellFormed)
{
    std::mt19937_64 random(36);
    const auto randomDecimal = [&random] {
        switch (random() % 8) {
        case 0:
            return Decimal::notANumber();
        case 1:
            return Decimal::fromMantissa(random() % 3, 0, random() % 2);
        case 2: // the extremes
            return Decimal::fromMantissa(std::numeric_limits<Decimal::Coefficient>::max(),
                                         random() % 2 ? Decimal::maxExponent - 1 : Decimal::minExponent,
                                         random() % 2);
        default:
            return Decimal::fromMantissa((Decimal::Coefficient(random()) << 64) | random(),
                                         static_cast<int>(random() % 300) - 150, random() % 2);
        }
    };
    using Unary = Decimal (*)(Decimal);
    const Unary unary[] = {
        QVDecimalAbsoluteValue, QVDecimalReciprocal, QVDecimalReduceAngle, QVDecimalSqrt, QVDecimalFactorial,
        QVDecimalSin,           QVDecimalCos,        QVDecimalTan,         QVDecimalCsc,  QVDecimalSec,
        QVDecimalCot,           QVDecimalAsin,       QVDecimalAcos,        QVDecimalAtan, QVDecimalAcsc,
        QVDecimalAsec,          QVDecimalAcot,       QVDecimalSinh,        QVDecimalCosh, QVDecimalTanh,
        QVDecimalCsch,          QVDecimalSech,       QVDecimalCoth,        QVDecimalAsinh, QVDecimalAcosh,
        QVDecimalAtanh,         QVDecimalAcsch,      QVDecimalAsech,       QVDecimalAcoth,
    };
    using Binary = Decimal (*)(Decimal, Decimal);
    const Binary binary[] = {QVDecimalAdd,    QVDecimalSubtract,  QVDecimalMultiply,   QVDecimalDivide,
                             QVDecimalAverage, QVDecimalMod,      QVDecimalPower,      QVDecimalNthRoot,
                             QVDecimalLeftShift, QVDecimalRightShift};
    const Decimal one = QVDecimalOne(), minusOne = QVDecimalNegativeOne(), bound = d("1E30");
    constexpr int count = 100000;
    constexpr int routineShare = 10; // every tenth value also goes through the next routine in turn
    for (int i = 0; i < count; ++i) {
        const Decimal a = randomDecimal(), b = randomDecimal();
        const auto mode = static_cast<RoundingMode>(random() % 4);
        Decimal r;
        for (auto operation : {DecimalAdd, DecimalSubtract, DecimalMultiply, DecimalDivide}) {
            operation(&r, a, b, mode);
            ASSERT_TRUE(valid(r)) << a.toString() << " " << b.toString();
        }
        DecimalPower(&r, a, random() % 300, mode);
        ASSERT_TRUE(valid(r)) << a.toString();
        DecimalRound(&r, a, static_cast<int64_t>(random() % 400) - 200, mode);
        ASSERT_TRUE(valid(r)) << a.toString();
        const Decimal back = Decimal::parse(a.toString()).value_or(Decimal::notANumber());
        ASSERT_TRUE(a.isNaN() ? back.isNaN() : DecimalCompare(a, back) == ComparisonResult::Same) << a.toString();
        if (i % routineShare != 0)
            continue;
        const int k = i / routineShare;
        ASSERT_TRUE(valid(unary[k % std::size(unary)](a))) << k % std::size(unary) << " of " << a.toString();
        ASSERT_TRUE(valid(binary[k % std::size(binary)](a, b))) << a.toString() << " " << b.toString();
        if (k % 5 != 0 || DecimalCompare(QVDecimalAbsoluteValue(a), bound) != ComparisonResult::Ascending)
            continue;
        const Decimal sine = QVDecimalSin(a);
        if (!sine.isNaN()) {
            EXPECT_NE(DecimalCompare(sine, one), ComparisonResult::Descending) << a.toString();
            EXPECT_NE(DecimalCompare(sine, minusOne), ComparisonResult::Ascending) << a.toString();
        }
    }
}
