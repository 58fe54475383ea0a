// The decimal type and routines against reference results written by
// scripts/make-decimal-golden.py (Python's decimal in this very type's context,
// mpmath at 60 digits).
#include "QVDecimalMath.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <map>

namespace {

const QJsonObject& golden()
{
    static const QJsonObject data = [] {
        QFile file(QStringLiteral(TEST_DATA_DIR "/decimal-golden.json"));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return QJsonDocument::fromJson(file.readAll()).object();
    }();
    return data;
}

Decimal operand(const QJsonValue& value)
{
    const std::string text = value.toString().toStdString();
    if (text == "NaN")
        return Decimal::notANumber();
    const auto d = Decimal::parse(text);
    EXPECT_TRUE(d) << text;
    return d.value_or(Decimal());
}

std::string text(const QJsonValue& value) { return value.toString().toStdString(); }

// The cases of one table, failing when the table is missing or thin.
QJsonArray cases(const QString& table, qsizetype atLeast)
{
    const QJsonArray all = golden().value(table).toArray();
    EXPECT_GE(all.size(), atLeast) << qPrintable(table);
    return all;
}

RoundingMode mode(const QString& name)
{
    static const std::map<QString, RoundingMode> modes{{"plain", RoundingMode::Plain},
                                                       {"down", RoundingMode::Down},
                                                       {"up", RoundingMode::Up},
                                                       {"bankers", RoundingMode::Bankers}};
    return modes.at(name);
}

bool within(const Decimal& actual, const Decimal& expected, const Decimal& bound)
{
    if (actual.isNaN() || expected.isNaN())
        return actual.isNaN() && expected.isNaN();
    return DecimalCompare(QVDecimalAbsoluteValue(QVDecimalSubtract(actual, expected)), bound)
           != ComparisonResult::Descending;
}

// |actual − expected| within tolerance × max(|expected|, absoluteBelow).
bool close(const Decimal& actual, const Decimal& expected, const Decimal& tolerance, const Decimal& absoluteBelow)
{
    const Decimal scale = QVDecimalAbsoluteValue(expected);
    return within(actual, expected,
                  QVDecimalMultiply(tolerance, DecimalCompare(scale, absoluteBelow) == ComparisonResult::Ascending
                                                   ? absoluteBelow
                                                   : scale));
}

// Two units in the 38th digit of d.
Decimal twoUnits(const Decimal& d)
{
    int digits = 0;
    for (Decimal::Coefficient c = d.mantissa(); c != 0; c /= 10)
        ++digits;
    return Decimal::fromMantissa(2, std::max(d.exponent() + digits - Decimal::maxDigits, Decimal::minExponent), false);
}

} // namespace

TEST(MathDecimalGolden, ArithmeticRoundsAndReportsLikeTheReference)
{
    using Operation = CalculationError (*)(Decimal*, const Decimal&, const Decimal&, RoundingMode);
    const std::map<QString, Operation> operations{
        {"add", DecimalAdd}, {"subtract", DecimalSubtract}, {"multiply", DecimalMultiply}, {"divide", DecimalDivide}};
    for (const QJsonValue& value : cases("arithmetic", 1600)) {
        const QJsonArray c = value.toArray();
        Decimal result;
        const CalculationError code =
            operations.at(c[0].toString())(&result, operand(c[1]), operand(c[2]), RoundingMode::Bankers);
        EXPECT_EQ(result.toString(), text(c[3])) << text(c[0]) << " " << text(c[1]) << " " << text(c[2]);
        EXPECT_EQ(static_cast<int>(code), c[4].toInt()) << text(c[0]) << " " << text(c[1]) << " " << text(c[2]);
    }
}

TEST(MathDecimalGolden, RoundingToAScaleInEveryMode)
{
    for (const QJsonValue& value : cases("round", 300)) {
        const QJsonArray c = value.toArray();
        Decimal result;
        DecimalRound(&result, operand(c[0]), c[1].toInteger(), mode(c[2].toString()));
        EXPECT_EQ(result.toString(), text(c[3])) << text(c[0]) << " scale " << c[1].toInteger() << " " << text(c[2]);
    }
}

TEST(MathDecimalGolden, ComparisonOrdersValuesAndPutsNaNBelow)
{
    for (const QJsonValue& value : cases("compare", 200)) {
        const QJsonArray c = value.toArray();
        EXPECT_EQ(static_cast<int>(DecimalCompare(operand(c[0]), operand(c[1]))), c[2].toInt())
            << text(c[0]) << " " << text(c[1]);
    }
}

TEST(MathDecimalGolden, ParsingRoundsLongTextHalfEven)
{
    for (const QJsonValue& value : cases("parse", 300)) {
        const QJsonArray c = value.toArray();
        CalculationError code = CalculationError::NoError;
        const auto parsed = Decimal::parse(text(c[0]), &code);
        ASSERT_TRUE(parsed) << text(c[0]);
        EXPECT_EQ(parsed->toString(), text(c[1])) << text(c[0]);
        EXPECT_EQ(static_cast<int>(code), c[2].toInt()) << text(c[0]);
    }
}

TEST(MathDecimalGolden, PowerIsExactWhereItFitsAndWithinTwoUnitsElsewhere)
{
    for (const QJsonValue& value : cases("power", 200)) {
        const QJsonArray c = value.toArray();
        const Decimal base = operand(c[0]);
        Decimal result;
        const CalculationError code =
            DecimalPower(&result, base, static_cast<uint64_t>(c[1].toInteger()), RoundingMode::Bankers);
        const std::string label = text(c[0]) + " ^ " + std::to_string(c[1].toInteger());
        if (c[4].toBool()) {
            EXPECT_EQ(result.toString(), text(c[2])) << label;
            EXPECT_EQ(static_cast<int>(code), c[3].toInt()) << label;
            continue;
        }
        const Decimal expected = operand(c[2]);
        EXPECT_TRUE(within(result, expected, twoUnits(expected)))
            << label << " gave " << result.toString() << ", expected " << text(c[2]);
    }
}

TEST(MathDecimalGolden, FunctionsAgreeWithTheReference)
{
    using Function = Decimal (*)(Decimal);
    const std::map<QString, Function> functions{
        {"sin", QVDecimalSin},   {"cos", QVDecimalCos},     {"tan", QVDecimalTan},     {"atan", QVDecimalAtan},
        {"asin", QVDecimalAsin}, {"acos", QVDecimalAcos},   {"sinh", QVDecimalSinh},   {"cosh", QVDecimalCosh},
        {"sqrt", QVDecimalSqrt}, {"factorial", QVDecimalFactorial}, {"asinh", QVDecimalAsinh}, {"acosh", QVDecimalAcosh}, {"atanh", QVDecimalAtanh},
    };
    const QJsonObject table = golden().value("functions").toObject();
    EXPECT_EQ(table.size(), static_cast<qsizetype>(functions.size()));
    for (const auto& [name, function] : functions) {
        const QJsonObject entry = table.value(name).toObject();
        const Decimal tolerance = operand(entry.value("tolerance"));
        const Decimal absoluteBelow = operand(entry.value("absoluteBelow"));
        const QJsonArray rows = entry.value("cases").toArray();
        EXPECT_GE(rows.size(), 20) << qPrintable(name);
        for (const QJsonValue& value : rows) {
            const QJsonArray c = value.toArray();
            const Decimal actual = function(operand(c[0]));
            EXPECT_TRUE(close(actual, operand(c[1]), tolerance, absoluteBelow))
                << qPrintable(name) << "(" << text(c[0]) << ") = " << actual.toString() << ", expected " << text(c[1]);
        }
    }
}
