#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// How a result that needs more digits than it may keep is rounded.
enum class RoundingMode {
    Plain = 0,   // half away from zero
    Down = 1,    // towards negative infinity
    Up = 2,      // towards positive infinity
    Bankers = 3, // half to even
};

// What an arithmetic operation reports beside its result.
enum class CalculationError {
    NoError = 0,
    LossOfPrecision = 1, // rounded, or fewer digits at the exponent floor
    Underflow = 2,       // a non-zero value rounded to 0
    Overflow = 3,        // too large; the result is not a number
    DivideByZero = 4,    // the result is not a number
};

enum class ComparisonResult { Ascending = -1, Same = 0, Descending = 1 };

// A decimal value: sign × coefficient × 10^exponent, with a coefficient below
// 10^38 and an exponent from -128 to 127, or not a number (NaN). Zero has no
// sign. Values are immutable; the Decimal... functions below compute with them.
class Decimal {
public:
    using Coefficient = unsigned __int128;
    static constexpr int maxDigits = 38;
    static constexpr int minExponent = -128;
    static constexpr int maxExponent = 127;

    constexpr Decimal() = default; // 0

    // A coefficient beyond 38 digits is rounded half to even; beyond the
    // exponent's ends the value becomes NaN or 0, as in the arithmetic.
    static Decimal fromMantissa(Coefficient mantissa, int64_t exponent, bool negative);
    static Decimal fromInteger(int64_t value);
    // The shortest digits that read back as the same double (0.1 stays 0.1);
    // infinities and NaN give NaN.
    static Decimal fromDouble(double value);
    static Decimal notANumber();
    // "[+-]digits[.digits][(e|E)[+-]digits]" with "." as point, nothing else
    // around it; digits beyond 38 are rounded half to even. No value when the
    // text is not a number; error receives the rounding's report.
    static std::optional<Decimal> parse(std::string_view text, CalculationError* error = nullptr);

    bool isNaN() const { return m_nan; }
    bool isNegative() const { return m_negative; }
    bool isZero() const { return !m_nan && m_coefficient == 0; }
    Coefficient mantissa() const { return m_coefficient; }
    int exponent() const { return m_exponent; }

    // Correctly rounded; NaN gives NaN.
    double toDouble() const;
    float toFloat() const;
    // Truncated towards zero and saturated at the type's ends; NaN gives 0.
    int64_t toInt64() const;
    uint64_t toUInt64() const;
    // Plain notation without trailing zeros ("-0.25", "1200"), or "NaN".
    std::string toString() const;

private:
    friend struct DecimalAccess;
    Coefficient m_coefficient = 0;
    int16_t m_exponent = 0;
    bool m_negative = false;
    bool m_nan = false;
};

// The arithmetic: each writes the rounded result and reports how it went.
// An operand that is NaN gives NaN and NoError.
CalculationError DecimalAdd(Decimal* result, const Decimal& left, const Decimal& right, RoundingMode mode);
CalculationError DecimalSubtract(Decimal* result, const Decimal& left, const Decimal& right, RoundingMode mode);
CalculationError DecimalMultiply(Decimal* result, const Decimal& left, const Decimal& right, RoundingMode mode);
CalculationError DecimalDivide(Decimal* result, const Decimal& left, const Decimal& right, RoundingMode mode);
// base^power with 76-digit partial products, rounded once: exact where the
// result fits, within a unit elsewhere; 0^0 = 1.
CalculationError DecimalPower(Decimal* result, const Decimal& base, uint64_t power, RoundingMode mode);

// Keeps at most scale digits after the point (a negative scale rounds to tens,
// hundreds, ...); a number with fewer is unchanged.
void DecimalRound(Decimal* result, const Decimal& number, int64_t scale, RoundingMode mode);

// NaN compares below every number and is unequal to itself, so a loop that
// runs while a value is above a bound never runs over a NaN.
ComparisonResult DecimalCompare(const Decimal& left, const Decimal& right);
