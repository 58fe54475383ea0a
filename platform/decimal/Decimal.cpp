#include "Decimal.h"

#include <boost/multiprecision/cpp_int.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>

// Every result is computed exactly (or with a sticky marker for the digits
// beyond) in a wide integer and then rounded by finish(), the one place that
// decides the rounding and the reported CalculationError.

using Narrow = unsigned __int128;
using Middle = boost::multiprecision::uint256_t; // any product of two coefficients
using Wide = boost::multiprecision::uint512_t;

struct DecimalAccess {
    static Decimal make(Narrow coefficient, int64_t exponent, bool negative)
    {
        Decimal d;
        d.m_coefficient = coefficient;
        d.m_exponent = static_cast<int16_t>(exponent);
        d.m_negative = negative && coefficient != 0;
        return d;
    }
    static Decimal nan()
    {
        Decimal d;
        d.m_nan = true;
        return d;
    }
};

namespace {

// The largest n with 10^n inside the integer type.
template <class UInt> constexpr int maxPower = 0;
template <> constexpr int maxPower<Narrow> = 38;
template <> constexpr int maxPower<Middle> = 77;
template <> constexpr int maxPower<Wide> = 154;

template <class UInt> const std::array<UInt, maxPower<UInt> + 1>& powersOfTen()
{
    static const auto table = [] {
        std::array<UInt, maxPower<UInt> + 1> t;
        t[0] = 1;
        for (size_t i = 1; i < t.size(); ++i)
            t[i] = t[i - 1] * 10u;
        return t;
    }();
    return table;
}

template <class UInt> const UInt& pow10(int64_t n) { return powersOfTen<UInt>()[static_cast<size_t>(n)]; }

template <class UInt> int bitLength(const UInt& x)
{
    if constexpr (std::is_same_v<UInt, Narrow>) {
        const auto high = static_cast<uint64_t>(x >> 64), low = static_cast<uint64_t>(x);
        return high ? 128 - __builtin_clzll(high) : low ? 64 - __builtin_clzll(low) : 0;
    } else {
        return x == 0 ? 0 : static_cast<int>(boost::multiprecision::msb(x)) + 1;
    }
}

// Number of decimal digits; 0 for 0. The bit length times log10(2) is the
// count or one less.
template <class UInt> int digitCount(const UInt& x)
{
    const int estimate = bitLength(x) * 1233 >> 12;
    return estimate + (x >= pow10<UInt>(estimate));
}

template <class UInt> Narrow toNarrow(const UInt& x) { return static_cast<Narrow>(x); }

template <class UInt> UInt widen(Narrow x) { return UInt(x); }

Wide toWide(Narrow x) { return widen<Wide>(x); }

template <class UInt> struct Exact {
    UInt coefficient = 0;
    int64_t exponent = 0;
    bool negative = false;
    // The true magnitude lies strictly above coefficient × 10^exponent, by less
    // than one unit of its last digit. Only set when there are 39 digits or more,
    // so the rounding digit is always a real one.
    bool sticky = false;
};

bool roundsAway(RoundingMode mode, bool negative, int halfComparison, bool inexact, bool odd)
{
    switch (mode) {
    case RoundingMode::Plain:
        return halfComparison >= 0;
    case RoundingMode::Down:
        return negative && inexact;
    case RoundingMode::Up:
        return !negative && inexact;
    case RoundingMode::Bankers:
        break;
    }
    return halfComparison > 0 || (halfComparison == 0 && odd);
}

// Rounds x to 38 digits with an exponent of at least floorExponent (and the
// type's floor), pads or overflows above the exponent ceiling.
template <class UInt>
CalculationError finish(Decimal* result, Exact<UInt> x, RoundingMode mode,
                        int64_t floorExponent = Decimal::minExponent)
{
    floorExponent = std::max<int64_t>(floorExponent, Decimal::minExponent);
    const int64_t drop = std::max<int64_t>({digitCount(x.coefficient) - Decimal::maxDigits,
                                            floorExponent - x.exponent, 0});
    bool inexact = x.sticky;
    if (drop > 0) {
        UInt kept = 0;
        UInt rest = x.coefficient;
        int halfComparison = -1; // beyond the table, the rest is far below half a unit
        if (drop <= maxPower<UInt>) {
            kept = x.coefficient / pow10<UInt>(drop);
            rest = x.coefficient - kept * pow10<UInt>(drop);
            const UInt half = pow10<UInt>(drop - 1) * 5u;
            halfComparison = rest < half ? -1 : rest > half ? 1 : (x.sticky ? 1 : 0);
        }
        inexact = inexact || rest != 0;
        if (roundsAway(mode, x.negative, halfComparison, inexact, (kept & 1u) != 0))
            kept += 1u;
        x.coefficient = kept;
        x.exponent += drop;
    }
    Narrow coefficient = toNarrow(x.coefficient);
    if (coefficient == pow10<Narrow>(Decimal::maxDigits)) { // a carry into a 39th digit
        coefficient = pow10<Narrow>(Decimal::maxDigits - 1);
        x.exponent += 1;
    }
    if (coefficient == 0) {
        *result = Decimal();
        return inexact ? CalculationError::Underflow : CalculationError::NoError;
    }
    if (x.exponent > Decimal::maxExponent) {
        const int64_t pad = x.exponent - Decimal::maxExponent;
        if (pad > Decimal::maxDigits - digitCount(coefficient)) {
            *result = Decimal::notANumber();
            return CalculationError::Overflow;
        }
        coefficient *= pow10<Narrow>(pad);
        x.exponent = Decimal::maxExponent;
    }
    *result = DecimalAccess::make(coefficient, x.exponent, x.negative);
    return inexact ? CalculationError::LossOfPrecision : CalculationError::NoError;
}

template <class UInt> Exact<UInt> exact(const Decimal& d)
{
    return {widen<UInt>(d.mantissa()), d.exponent(), d.isNegative(), false};
}

// Exponent of the leading digit; the value lies in [10^a, 10^(a+1)).
int adjustedExponent(const Decimal& d) { return d.exponent() + digitCount(d.mantissa()) - 1; }

// |left| against |right|, both non-zero and not NaN.
int compareMagnitudes(const Decimal& left, const Decimal& right)
{
    const int a = adjustedExponent(left), b = adjustedExponent(right);
    if (a != b)
        return a < b ? -1 : 1;
    const int shift = left.exponent() - right.exponent(); // below 38 in size
    if (shift == 0)
        return left.mantissa() < right.mantissa() ? -1 : left.mantissa() > right.mantissa() ? 1 : 0;
    const Wide l = toWide(left.mantissa()) * (shift > 0 ? pow10<Wide>(shift) : Wide(1));
    const Wide r = toWide(right.mantissa()) * (shift < 0 ? pow10<Wide>(-shift) : Wide(1));
    return l < r ? -1 : l > r ? 1 : 0;
}

// Exponents from outside are held within this, far beyond both ends of the
// type and still safe to add to.
constexpr int64_t exponentLimit = 1'000'000'000;

// Exact sums while the exponents are this close; beyond, the smaller operand
// only decides the rounding and becomes a sticky marker.
constexpr int alignLimit = 100;
constexpr int guardDigits = 40;

// big + small with small.exponent <= big.exponent <= small.exponent + alignLimit.
template <class UInt> Exact<UInt> alignedSum(Exact<UInt> big, const Exact<UInt>& small)
{
    big.coefficient *= pow10<UInt>(big.exponent - small.exponent);
    big.exponent = small.exponent;
    if (big.negative == small.negative) {
        big.coefficient += small.coefficient;
    } else if (big.coefficient >= small.coefficient) {
        big.coefficient -= small.coefficient;
    } else {
        big.coefficient = small.coefficient - big.coefficient;
        big.negative = small.negative;
    }
    return big;
}

CalculationError addSigned(Decimal* result, const Decimal& left, const Decimal& right, bool negateRight,
                           RoundingMode mode)
{
    if (left.isNaN() || right.isNaN()) {
        *result = Decimal::notANumber();
        return CalculationError::NoError;
    }
    if (right.isZero()) {
        *result = left;
        return CalculationError::NoError;
    }
    const Decimal signedRight = DecimalAccess::make(right.mantissa(), right.exponent(), right.isNegative() != negateRight);
    if (left.isZero()) {
        *result = signedRight;
        return CalculationError::NoError;
    }
    const bool leftBigger = left.exponent() >= right.exponent();
    const Decimal& big = leftBigger ? left : signedRight;
    const Decimal& small = leftBigger ? signedRight : left;
    const int distance = big.exponent() - small.exponent();
    constexpr Narrow narrowLimit = (Narrow(1) << 127) - 1; // two such still add up in 128 bits
    if (distance <= maxPower<Narrow> && big.mantissa() <= narrowLimit / pow10<Narrow>(distance))
        return finish(result, alignedSum(exact<Narrow>(big), exact<Narrow>(small)), mode);
    if (distance <= maxPower<Narrow>)
        return finish(result, alignedSum(exact<Middle>(big), exact<Middle>(small)), mode);
    if (distance <= alignLimit)
        return finish(result, alignedSum(exact<Wide>(big), exact<Wide>(small)), mode);
    Exact<Wide> x = exact<Wide>(big);
    x.coefficient *= pow10<Wide>(guardDigits);
    x.exponent -= guardDigits;
    if (big.isNegative() != small.isNegative())
        x.coefficient -= 1u; // big − tiny = (big − 1 unit) + (1 unit − tiny)
    x.sticky = true;
    return finish(result, x, mode);
}

// Keeps at most this many digits of each partial product of a power.
constexpr int powerDigits = 76;

// Truncates x to powerDigits digits; reports whether anything was cut.
bool trim(Exact<Wide>& x)
{
    const int excess = digitCount(x.coefficient) - powerDigits;
    if (excess <= 0)
        return false;
    Wide kept, rest;
    divide_qr(x.coefficient, pow10<Wide>(excess), kept, rest);
    x.coefficient = kept;
    x.exponent += excess;
    return rest != 0;
}

// Beyond these the final power surely overflows or rounds to 0.
constexpr int64_t powerCeiling = 2 * Decimal::maxExponent + 2 * Decimal::maxDigits;
constexpr int64_t powerFloor = 2 * Decimal::minExponent - 2 * Decimal::maxDigits;

void appendDigits(std::string& out, Narrow value)
{
    char buffer[40];
    char* end = buffer + sizeof buffer;
    char* p = end;
    do {
        *--p = static_cast<char>('0' + static_cast<int>(value % 10));
        value /= 10;
    } while (value != 0);
    out.append(p, end);
}

// "[-]digitsEexponent", the form std::from_chars reads.
std::string scientific(const Decimal& d)
{
    std::string text = d.isNegative() ? "-" : "";
    appendDigits(text, d.mantissa());
    char exponent[8];
    const auto written = std::to_chars(exponent, exponent + sizeof exponent, d.exponent());
    text += 'e';
    text.append(exponent, written.ptr);
    return text;
}

template <class Float> Float toFloating(const Decimal& d)
{
    if (d.isNaN())
        return std::numeric_limits<Float>::quiet_NaN();
    const std::string text = scientific(d);
    Float value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range) // from_chars leaves value unchanged here
        return d.exponent() < 0 ? (d.isNegative() ? -Float(0) : Float(0))
                                : (d.isNegative() ? -std::numeric_limits<Float>::infinity()
                                                  : std::numeric_limits<Float>::infinity());
    return value;
}

// The integer part's magnitude, saturated at limit.
Narrow truncatedMagnitude(const Decimal& d, Narrow limit)
{
    if (d.exponent() < 0)
        return -d.exponent() > Decimal::maxDigits ? 0 : d.mantissa() / pow10<Narrow>(-d.exponent());
    if (adjustedExponent(d) > Decimal::maxDigits - 1)
        return limit;
    return std::min(limit, d.mantissa() * pow10<Narrow>(d.exponent()));
}

} // namespace

Decimal Decimal::fromMantissa(Coefficient mantissa, int64_t exponent, bool negative)
{
    Decimal d;
    finish(&d, Exact<Narrow>{mantissa, std::clamp(exponent, -exponentLimit, exponentLimit), negative, false},
           RoundingMode::Bankers);
    return d;
}

Decimal Decimal::fromInteger(int64_t value)
{
    const Narrow magnitude = value < 0 ? Narrow(-(value + 1)) + 1 : Narrow(value);
    return DecimalAccess::make(magnitude, 0, value < 0);
}

Decimal Decimal::notANumber() { return DecimalAccess::nan(); }

Decimal Decimal::fromDouble(double value)
{
    if (!std::isfinite(value))
        return notANumber();
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return parse(std::string_view(buffer, end - buffer)).value_or(notANumber());
}

std::optional<Decimal> Decimal::parse(std::string_view text, CalculationError* error)
{
    size_t i = 0;
    Exact<Wide> x;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        x.negative = text[i++] == '-';
    int kept = 0;
    int64_t scale = 0; // digits after the point that were kept, less integer digits dropped
    bool anyDigit = false, seenPoint = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !seenPoint) {
            seenPoint = true;
            continue;
        }
        if (c < '0' || c > '9')
            break;
        anyDigit = true;
        if (kept < guardDigits) {
            x.coefficient = x.coefficient * 10u + static_cast<unsigned>(c - '0');
            kept += x.coefficient != 0;
            scale += seenPoint;
        } else {
            x.sticky = x.sticky || c != '0';
            scale -= !seenPoint;
        }
    }
    if (!anyDigit)
        return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            negativeExponent = text[i++] == '-';
        const size_t start = i;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            x.exponent = std::min(exponentLimit, x.exponent * 10 + (text[i] - '0'));
        if (i == start)
            return std::nullopt;
        if (negativeExponent)
            x.exponent = -x.exponent;
    }
    if (i != text.size())
        return std::nullopt;
    x.exponent -= scale;
    if (x.coefficient == 0)
        x.exponent = 0;
    Decimal d;
    const CalculationError status = finish(&d, x, RoundingMode::Bankers);
    if (error)
        *error = status;
    return d;
}

double Decimal::toDouble() const { return toFloating<double>(*this); }

float Decimal::toFloat() const { return toFloating<float>(*this); }

int64_t Decimal::toInt64() const
{
    if (m_nan)
        return 0;
    constexpr Narrow max = std::numeric_limits<int64_t>::max();
    const Narrow magnitude = truncatedMagnitude(*this, max + 1);
    if (!m_negative)
        return static_cast<int64_t>(std::min(magnitude, max));
    return magnitude > max ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
}

uint64_t Decimal::toUInt64() const
{
    if (m_nan || m_negative)
        return 0;
    return static_cast<uint64_t>(truncatedMagnitude(*this, std::numeric_limits<uint64_t>::max()));
}

std::string Decimal::toString() const
{
    if (m_nan)
        return "NaN";
    Narrow coefficient = m_coefficient;
    int exponent = m_exponent;
    while (coefficient != 0 && coefficient % 10 == 0) {
        coefficient /= 10;
        ++exponent;
    }
    std::string digits;
    appendDigits(digits, coefficient);
    std::string text = m_negative ? "-" : "";
    if (coefficient == 0 || exponent >= 0) {
        text += digits;
        if (coefficient != 0)
            text.append(static_cast<size_t>(exponent), '0');
        return text;
    }
    const int fraction = -exponent;
    if (fraction >= static_cast<int>(digits.size()))
        return text + "0." + std::string(static_cast<size_t>(fraction) - digits.size(), '0') + digits;
    return text + digits.substr(0, digits.size() - fraction) + "." + digits.substr(digits.size() - fraction);
}

CalculationError DecimalAdd(Decimal* result, const Decimal& left, const Decimal& right, RoundingMode mode)
{
    return addSigned(result, left, right, false, mode);
}

CalculationError DecimalSubtract(Decimal* result, const Decimal& left, const Decimal& right, RoundingMode mode)
{
    return addSigned(result, left, right, true, mode);
}

CalculationError DecimalMultiply(Decimal* result, const Decimal& left, const Decimal& right, RoundingMode mode)
{
    if (left.isNaN() || right.isNaN()) {
        *result = Decimal::notANumber();
        return CalculationError::NoError;
    }
    const bool negative = left.isNegative() != right.isNegative();
    const int64_t exponent = int64_t(left.exponent()) + right.exponent();
    constexpr Narrow half = Narrow(1) << 64;
    if (left.mantissa() < half && right.mantissa() < half)
        return finish(result, Exact<Narrow>{left.mantissa() * right.mantissa(), exponent, negative, false}, mode);
    return finish(result, Exact<Middle>{widen<Middle>(left.mantissa()) * widen<Middle>(right.mantissa()), exponent,
                                        negative, false},
                  mode);
}

CalculationError DecimalDivide(Decimal* result, const Decimal& left, const Decimal& right, RoundingMode mode)
{
    if (left.isNaN() || right.isNaN()) {
        *result = Decimal::notANumber();
        return CalculationError::NoError;
    }
    if (right.isZero()) {
        *result = Decimal::notANumber();
        return CalculationError::DivideByZero;
    }
    if (left.isZero()) {
        *result = Decimal();
        return CalculationError::NoError;
    }
    // Scale the dividend so that the quotient has at least 40 digits.
    const int shift = guardDigits + digitCount(right.mantissa()) - digitCount(left.mantissa());
    Exact<Wide> x;
    Wide rest;
    divide_qr(toWide(left.mantissa()) * pow10<Wide>(shift), toWide(right.mantissa()), x.coefficient, rest);
    x.exponent = int64_t(left.exponent()) - right.exponent() - shift;
    x.negative = left.isNegative() != right.isNegative();
    x.sticky = rest != 0;
    return finish(result, x, mode);
}

CalculationError DecimalPower(Decimal* result, const Decimal& base, uint64_t power, RoundingMode mode)
{
    if (base.isNaN()) {
        *result = Decimal::notANumber();
        return CalculationError::NoError;
    }
    if (power == 0) {
        *result = Decimal::fromInteger(1);
        return CalculationError::NoError;
    }
    if (base.isZero()) {
        *result = Decimal();
        return CalculationError::NoError;
    }
    // Left to right over the bits of power: only the factors the result needs.
    const Exact<Wide> b = exact<Wide>(base);
    Exact<Wide> x = b;
    bool cut = false;
    for (int bit = 62 - __builtin_clzll(power); bit >= 0; --bit) {
        x.coefficient *= x.coefficient;
        x.exponent *= 2;
        cut = trim(x) || cut;
        if ((power >> bit) & 1u) {
            x.coefficient *= b.coefficient;
            x.exponent += b.exponent;
            cut = trim(x) || cut;
        }
        const int64_t adjusted = x.exponent + digitCount(x.coefficient) - 1;
        if (adjusted > powerCeiling) {
            *result = Decimal::notANumber();
            return CalculationError::Overflow;
        }
        if (adjusted < powerFloor) { // a tiny stand-in still rounds the right way
            x = {1, powerFloor, false, false};
            cut = true;
            break;
        }
    }
    x.negative = base.isNegative() && (power & 1u);
    if (cut) { // at least 39 digits remain after a cut, as finish() asks of sticky
        x.coefficient *= pow10<Wide>(guardDigits);
        x.exponent -= guardDigits;
        x.sticky = true;
    }
    return finish(result, x, mode);
}

void DecimalRound(Decimal* result, const Decimal& number, int64_t scale, RoundingMode mode)
{
    constexpr int64_t scaleLimit = 1000; // far beyond both exponent ends
    scale = std::clamp(scale, -scaleLimit, scaleLimit);
    if (number.isNaN() || number.exponent() >= -scale) {
        *result = number;
        return;
    }
    finish(result, Exact<Narrow>{number.mantissa(), number.exponent(), number.isNegative(), false}, mode, -scale);
}

ComparisonResult DecimalCompare(const Decimal& left, const Decimal& right)
{
    if (left.isNaN())
        return ComparisonResult::Ascending;
    if (right.isNaN())
        return ComparisonResult::Descending;
    const int leftSign = left.isZero() ? 0 : left.isNegative() ? -1 : 1;
    const int rightSign = right.isZero() ? 0 : right.isNegative() ? -1 : 1;
    int order = leftSign - rightSign;
    if (order == 0 && leftSign != 0)
        order = leftSign * compareMagnitudes(left, right);
    return order < 0 ? ComparisonResult::Ascending
                     : order > 0 ? ComparisonResult::Descending : ComparisonResult::Same;
}
