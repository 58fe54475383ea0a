#pragma once

#include "Decimal.h"

#include <cstddef>
#include <cstdint>
#include <string>

// A number of one of four kinds, compared by value across kinds: 1, 1u, 1.0
// and the decimal 1.0 are the same number and hash alike. A double compares
// by its shortest round-trip digits (0.1 equals the decimal 0.1), an integral
// one below 2^64 by its exact value. NaN of any kind equals NaN and sorts
// below every number, so numbers can key a hash or a sorted container.
class Number {
public:
    enum class Kind { Int64, UInt64, Double, Decimal };

    constexpr Number() = default; // the integer 0
    explicit Number(int64_t value) : m_kind(Kind::Int64), m_int(value) {}
    explicit Number(uint64_t value) : m_kind(Kind::UInt64), m_uint(value) {}
    explicit Number(double value) : m_kind(Kind::Double), m_double(value) {}
    explicit Number(const ::Decimal& value) : m_kind(Kind::Decimal), m_decimal(value) {}

    Kind kind() const { return m_kind; }
    bool boolValue() const; // not 0; NaN is true
    bool isNaN() const;
    double toDouble() const;
    ::Decimal toDecimal() const; // doubles by their shortest digits; out of range gives NaN
    // Truncated towards zero and saturated at the type's ends; NaN gives 0.
    int64_t toInt64() const;
    uint64_t toUInt64() const;

    ComparisonResult compare(const Number& other) const;
    bool operator==(const Number& other) const { return compare(other) == ComparisonResult::Same; }
    size_t hash() const;

    // Integers as digits, doubles in their shortest round-trip form ("0.1",
    // "1e+200"), decimals in plain notation.
    std::string description() const;

private:
    Kind m_kind = Kind::Int64;
    union {
        int64_t m_int = 0;
        uint64_t m_uint;
        double m_double;
    };
    ::Decimal m_decimal;
};

inline size_t qHash(const Number& number, size_t seed = 0) { return number.hash() ^ seed; }

template <> struct std::hash<Number> {
    size_t operator()(const Number& number) const { return number.hash(); }
};
