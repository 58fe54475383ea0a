#include "Number.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <limits>

namespace {

constexpr double twoTo63 = 9223372036854775808.0;
constexpr double twoTo64 = 18446744073709551616.0;

std::string shortestDigits(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// What a number compares and hashes by: its exact decimal where the decimal
// holds it, else the double itself (infinities, and doubles past the
// decimal's range or its smallest digits).
struct Key {
    enum Form { NaN, Exact, Binary } form = NaN;
    Decimal decimal;
    double binary = 0;
};

Key keyOfDouble(double value)
{
    if (std::isnan(value))
        return {};
    if (std::trunc(value) == value && std::fabs(value) < twoTo64)
        return {Key::Exact, Decimal::fromMantissa(static_cast<uint64_t>(std::fabs(value)), 0, value < 0), 0};
    CalculationError error = CalculationError::NoError;
    const auto decimal = Decimal::parse(shortestDigits(value), &error);
    if (decimal && error == CalculationError::NoError)
        return {Key::Exact, *decimal, 0};
    return {Key::Binary, Decimal(), value};
}

ComparisonResult order(double left, double right)
{
    if (left < right)
        return ComparisonResult::Ascending;
    return left > right ? ComparisonResult::Descending : ComparisonResult::Same;
}

// One side is a double the decimal cannot hold: the two cannot be equal, and
// where rounding makes them look so, that double lies past the decimal's end.
ComparisonResult compareBinary(const Key& binary, double exact)
{
    const ComparisonResult result = order(binary.binary, exact);
    if (result != ComparisonResult::Same)
        return result;
    const bool outward = std::fabs(binary.binary) > 1;
    return (binary.binary > 0) == outward ? ComparisonResult::Descending : ComparisonResult::Ascending;
}

ComparisonResult reversed(ComparisonResult result) { return static_cast<ComparisonResult>(-static_cast<int>(result)); }

void combine(size_t* seed, uint64_t value) { *seed ^= std::hash<uint64_t>()(value) + 0x9e3779b97f4a7c15ull + (*seed << 6) + (*seed >> 2); }

} // namespace

static Key keyOf(const Number& number)
{
    switch (number.kind()) {
    case Number::Kind::Int64:
        return {Key::Exact, Decimal::fromInteger(number.toInt64()), 0};
    case Number::Kind::UInt64:
        return {Key::Exact, Decimal::fromMantissa(number.toUInt64(), 0, false), 0};
    case Number::Kind::Double:
        return keyOfDouble(number.toDouble());
    case Number::Kind::Decimal:
        break;
    }
    const Decimal decimal = number.toDecimal();
    return decimal.isNaN() ? Key() : Key{Key::Exact, decimal, 0};
}

bool Number::boolValue() const
{
    switch (m_kind) {
    case Kind::Int64:
        return m_int != 0;
    case Kind::UInt64:
        return m_uint != 0;
    case Kind::Double:
        return m_double != 0;
    case Kind::Decimal:
        break;
    }
    return !m_decimal.isZero();
}

bool Number::isNaN() const
{
    return (m_kind == Kind::Double && std::isnan(m_double)) || (m_kind == Kind::Decimal && m_decimal.isNaN());
}

double Number::toDouble() const
{
    switch (m_kind) {
    case Kind::Int64:
        return static_cast<double>(m_int);
    case Kind::UInt64:
        return static_cast<double>(m_uint);
    case Kind::Double:
        return m_double;
    case Kind::Decimal:
        break;
    }
    return m_decimal.toDouble();
}

Decimal Number::toDecimal() const
{
    switch (m_kind) {
    case Kind::Int64:
        return Decimal::fromInteger(m_int);
    case Kind::UInt64:
        return Decimal::fromMantissa(m_uint, 0, false);
    case Kind::Double:
        return Decimal::fromDouble(m_double);
    case Kind::Decimal:
        break;
    }
    return m_decimal;
}

int64_t Number::toInt64() const
{
    constexpr int64_t max = std::numeric_limits<int64_t>::max();
    switch (m_kind) {
    case Kind::Int64:
        return m_int;
    case Kind::UInt64:
        return m_uint > uint64_t(max) ? max : static_cast<int64_t>(m_uint);
    case Kind::Double:
        if (std::isnan(m_double))
            return 0;
        if (m_double >= twoTo63)
            return max;
        return m_double < -twoTo63 ? std::numeric_limits<int64_t>::min() : static_cast<int64_t>(m_double);
    case Kind::Decimal:
        break;
    }
    return m_decimal.toInt64();
}

uint64_t Number::toUInt64() const
{
    switch (m_kind) {
    case Kind::Int64:
        return m_int < 0 ? 0 : static_cast<uint64_t>(m_int);
    case Kind::UInt64:
        return m_uint;
    case Kind::Double:
        if (std::isnan(m_double) || m_double <= -1)
            return 0;
        return m_double >= twoTo64 ? std::numeric_limits<uint64_t>::max() : static_cast<uint64_t>(m_double);
    case Kind::Decimal:
        break;
    }
    return m_decimal.toUInt64();
}

ComparisonResult Number::compare(const Number& other) const
{
    const Key left = keyOf(*this), right = keyOf(other);
    if (left.form == Key::NaN || right.form == Key::NaN) {
        if (left.form == right.form)
            return ComparisonResult::Same;
        return left.form == Key::NaN ? ComparisonResult::Ascending : ComparisonResult::Descending;
    }
    if (left.form == Key::Exact && right.form == Key::Exact)
        return DecimalCompare(left.decimal, right.decimal);
    if (left.form == Key::Binary && right.form == Key::Binary)
        return order(left.binary, right.binary);
    if (left.form == Key::Binary)
        return compareBinary(left, other.toDouble());
    return reversed(compareBinary(right, toDouble()));
}

size_t Number::hash() const
{
    const Key key = keyOf(*this);
    if (key.form == Key::NaN)
        return 0x7ff8;
    if (key.form == Key::Binary)
        return std::hash<double>()(key.binary);
    Decimal::Coefficient coefficient = key.decimal.mantissa();
    int exponent = key.decimal.exponent();
    while (coefficient != 0 && coefficient % 10 == 0) {
        coefficient /= 10;
        ++exponent;
    }
    if (coefficient == 0)
        return 0;
    size_t seed = key.decimal.isNegative();
    combine(&seed, static_cast<uint64_t>(coefficient));
    combine(&seed, static_cast<uint64_t>(coefficient >> 64));
    combine(&seed, static_cast<uint64_t>(exponent));
    return seed;
}

std::string Number::description() const
{
    switch (m_kind) {
    case Kind::Int64:
        return std::to_string(m_int);
    case Kind::UInt64:
        return std::to_string(m_uint);
    case Kind::Double:
        return shortestDigits(m_double);
    case Kind::Decimal:
        break;
    }
    return m_decimal.toString();
}
