#include "QVDecimalMath.h"

#include <array>
#include <cmath>

namespace {

constexpr RoundingMode bankers = RoundingMode::Bankers;
constexpr int newtonSteps = 50;

Decimal constant(const char* text) { return Decimal::parse(text).value_or(Decimal()); }

// The constants' texts; the type keeps the first 38 digits.
namespace texts {
constexpr char Epsilon[] = "1E-64";
constexpr char NegativeOne[] = "-1";
constexpr char One[] = "1";
constexpr char Two[] = "2";
constexpr char Phi[] = "1.61803398874989484820458683436563811772030917980576286213544862270526046281890";
constexpr char Pi[] =
    "3.1415926535897932384626433832795028841971693993751058209749445923078164062862089986280348253421170679";
constexpr char Pi_2[] =
    "1.5707963267948966192313216916397514420985846996875529104874722961539082031431044993140174126710585340";
constexpr char Pi_4[] =
    "0.7853981633974483096156608458198757210492923498437764552437361480769541015715522496570087063355292670";
constexpr char Sqrt2[] =
    "1.414213562373095048801688724209698078569671875376948073176679737990732478462107038850387534327641572";
constexpr char E[] =
    "2.7182818284590452353602874713526624977572470936999595749669676277240766303535475945713821785251664274";
constexpr char Log2e[] =
    "1.4426950408889634073599246810018921374266459541529859341354494069311092191811850798855266228935063445";
constexpr char Log10e[] =
    "0.4342944819032518276511289189166050822943970058036665661144537831658646492088707747292249493384317483";
constexpr char Ln2[] =
    "0.693147180559945309417232121458176568075500134360255254120680009493393621969694715605863326996418687";
constexpr char Ln10[] =
    "2.30258509299404568401799145468436420760110148862877297603332790096757260967735248023599720508959830";
} // namespace texts

// One process-wide value per text, made on first use (safe from any thread).
template <const char* source> Decimal cached()
{
    static const Decimal value = constant(source);
    return value;
}

bool less(const Decimal& a, const Decimal& b) { return DecimalCompare(a, b) == ComparisonResult::Ascending; }
bool greater(const Decimal& a, const Decimal& b) { return DecimalCompare(a, b) == ComparisonResult::Descending; }
bool same(const Decimal& a, const Decimal& b) { return DecimalCompare(a, b) == ComparisonResult::Same; }

Decimal floorOf(const Decimal& a)
{
    Decimal r;
    DecimalRound(&r, a, 0, RoundingMode::Down);
    return r;
}

// Underflow, overflow and division by zero end a series; a lost digit does not.
bool failed(CalculationError code) { return code >= CalculationError::Underflow; }

Decimal throughDouble(double (*function)(double), const Decimal& x)
{
    return QVDecimalFromDouble(function(QVDoubleFromDecimal(x)));
}

// Newton's method for the n-th root from the double's root: x ← ((n − 1)x + a / x^(n − 1)) / n,
// until an iterate repeats (or alternates between two).
Decimal newtonRoot(const Decimal& a, uint64_t n)
{
    const double start = std::pow(std::fabs(a.toDouble()), 1.0 / static_cast<double>(n));
    Decimal x = QVDecimalFromDouble(a.isNegative() ? -start : start);
    const Decimal order = Decimal::fromMantissa(n, 0, false);
    const Decimal lower = Decimal::fromMantissa(n - 1, 0, false);
    Decimal beforeLast = QVDecimalNaN();
    for (int step = 0; step < newtonSteps; ++step) {
        Decimal power;
        DecimalPower(&power, x, n - 1, bankers);
        const Decimal next = QVDecimalDivide(QVDecimalAdd(QVDecimalMultiply(lower, x), QVDecimalDivide(a, power)), order);
        if (same(next, x) || same(next, beforeLast))
            return next;
        beforeLast = x;
        x = next;
    }
    return x;
}

Decimal shift(Decimal a, Decimal n, bool left)
{
    n = floorOf(n);
    if (!n.isNaN() && QVDecimalIsNegative(n))
        return shift(a, QVDecimalMultiply(n, QVDecimalNegativeOne()), !left);
    // n − 1 is n itself from 10^38 on: the value's own end stops the loop.
    while (greater(n, QVDecimalZero())) {
        a = left ? QVDecimalMultiply(a, QVDecimalTwo()) : QVDecimalDivide(a, QVDecimalTwo());
        n = QVDecimalSubtract(n, QVDecimalOne());
        if (left ? a.isNaN() || a.isZero() : less(QVDecimalAbsoluteValue(a), QVDecimalOne()))
            break;
    }
    return less(a, QVDecimalOne()) ? QVDecimalZero() : a;
}

// Taylor series of sine (first power 3) or cosine (first power 2) after angle
// reduction, 22 terms, ended early by a failing power or division. Each power
// is the one before times x².
Decimal circularSeries(Decimal x, bool sine)
{
    x = QVDecimalReduceAngle(x);
    const Decimal square = QVDecimalMultiply(x, x);
    Decimal power = sine ? x : QVDecimalOne();
    Decimal sum = power;
    bool subtracting = true;
    for (int n = sine ? 3 : 2; n < 46; n += 2) {
        Decimal term;
        if (failed(DecimalMultiply(&power, power, square, bankers)))
            break;
        if (failed(DecimalDivide(&term, power, QVDecimalFactorial(QVDecimalFromInteger(n)), bankers)))
            break;
        sum = subtracting ? QVDecimalSubtract(sum, term) : QVDecimalAdd(sum, term);
        subtracting = !subtracting;
    }
    return sum;
}

// Taylor series of sinh (term x, next power 3) or cosh (term 1, next power 2),
// each term from the one before, until it no longer shows in 40 digits.
Decimal hyperbolicSeries(const Decimal& x, Decimal term, int64_t n)
{
    static const Decimal negligible = constant("1E-40");
    constexpr int maxTerms = 2000;
    const Decimal square = QVDecimalMultiply(x, x);
    Decimal sum = term;
    for (int i = 0; i < maxTerms; ++i, n += 2) {
        term = QVDecimalDivide(QVDecimalMultiply(term, square), QVDecimalFromInteger((n - 1) * n));
        sum = QVDecimalAdd(sum, term);
        if (sum.isNaN() || !greater(QVDecimalAbsoluteValue(term),
                                    QVDecimalMultiply(QVDecimalAbsoluteValue(sum), negligible)))
            break;
    }
    return sum;
}

// 1 / sinh x or 1 / cosh x: where those overflow, the reciprocal is below the
// type's floor.
Decimal reciprocalOfHyperbolic(const Decimal& value, const Decimal& x)
{
    return value.isNaN() && !x.isNaN() ? QVDecimalZero() : QVDecimalReciprocal(value);
}

// x − x³/3 + x⁵/5 − … to x^149/149; an underflowing power ends it.
Decimal atanSeries(const Decimal& x)
{
    const Decimal square = QVDecimalMultiply(x, x);
    Decimal power = x, sum = x;
    bool subtracting = true;
    for (int n = 3; n < 150; n += 2) {
        Decimal term;
        const bool powerUnderflow = DecimalMultiply(&power, power, square, bankers) == CalculationError::Underflow;
        const bool termUnderflow =
            DecimalDivide(&term, power, QVDecimalFromInteger(n), bankers) == CalculationError::Underflow;
        if (powerUnderflow || termUnderflow)
            break; // the term is 0
        sum = subtracting ? QVDecimalSubtract(sum, term) : QVDecimalAdd(sum, term);
        subtracting = !subtracting;
    }
    return sum;
}

// tan(θ/2) from tan θ: x / (1 + √(1 + x²)); past 10^19 the root is |x| in 38
// digits, and x² would overflow for the largest x.
Decimal halfAngle(const Decimal& x)
{
    static const Decimal large = constant("1E19");
    const Decimal magnitude = QVDecimalAbsoluteValue(x);
    const Decimal root = greater(magnitude, large)
                             ? magnitude
                             : QVDecimalSqrt(QVDecimalAdd(QVDecimalOne(), QVDecimalMultiply(x, x)));
    return QVDecimalDivide(x, QVDecimalAdd(QVDecimalOne(), root));
}

} // namespace

Decimal QVDecimalNaN()
{
    static const Decimal value = Decimal::notANumber();
    return value;
}

Decimal QVDecimalZero() { return Decimal(); }

Decimal QVDecimalTau()
{
    static const Decimal value = QVDecimalMultiply(QVDecimalPi(), QVDecimalTwo());
    return value;
}

Decimal QVDecimalEpsilon() { return cached<texts::Epsilon>(); }

Decimal QVDecimalNegativeOne() { return cached<texts::NegativeOne>(); }

Decimal QVDecimalOne() { return cached<texts::One>(); }

Decimal QVDecimalTwo() { return cached<texts::Two>(); }

Decimal QVDecimalPhi() { return cached<texts::Phi>(); }

Decimal QVDecimalPi() { return cached<texts::Pi>(); }

Decimal QVDecimalPi_2() { return cached<texts::Pi_2>(); }

Decimal QVDecimalPi_4() { return cached<texts::Pi_4>(); }

Decimal QVDecimalSqrt2() { return cached<texts::Sqrt2>(); }

Decimal QVDecimalE() { return cached<texts::E>(); }

Decimal QVDecimalLog2e() { return cached<texts::Log2e>(); }

Decimal QVDecimalLog10e() { return cached<texts::Log10e>(); }

Decimal QVDecimalLn2() { return cached<texts::Ln2>(); }

Decimal QVDecimalLn10() { return cached<texts::Ln10>(); }

Decimal QVDecimalFromInteger(int64_t i) { return Decimal::fromInteger(i); }

Decimal QVDecimalFromDouble(double d) { return Decimal::fromDouble(d); }

uint64_t QVUIntegerFromDecimal(Decimal decimal) { return decimal.toUInt64(); }

float QVFloatFromDecimal(Decimal decimal) { return decimal.toFloat(); }

double QVDoubleFromDecimal(Decimal decimal) { return decimal.toDouble(); }

bool QVDecimalIsNegative(Decimal a) { return less(a, QVDecimalZero()); }

bool QVDecimalIsInteger(Decimal a) { return same(floorOf(a), a); }

bool QVDecimalIsApproximatelyEqual(Decimal a, Decimal b)
{
    return less(QVDecimalAbsoluteValue(QVDecimalSubtract(a, b)), QVDecimalEpsilon());
}

void QVDecimalNegate(Decimal* p) { *p = QVDecimalMultiply(*p, QVDecimalNegativeOne()); }

void QVDecimalInvert(Decimal* p) { *p = QVDecimalDivide(QVDecimalOne(), *p); }

Decimal QVDecimalAdd(Decimal a, Decimal b)
{
    Decimal r;
    DecimalAdd(&r, a, b, bankers);
    return r;
}

Decimal QVDecimalSubtract(Decimal a, Decimal b)
{
    Decimal r;
    DecimalSubtract(&r, a, b, bankers);
    return r;
}

Decimal QVDecimalMultiply(Decimal a, Decimal b)
{
    Decimal r;
    DecimalMultiply(&r, a, b, bankers);
    return r;
}

Decimal QVDecimalDivide(Decimal a, Decimal b)
{
    Decimal r;
    DecimalDivide(&r, a, b, bankers);
    return r;
}

Decimal QVDecimalAverage(Decimal a, Decimal b) { return QVDecimalDivide(QVDecimalAdd(a, b), QVDecimalTwo()); }

Decimal QVDecimalMod(Decimal a, Decimal b)
{
    const Decimal quotient = floorOf(QVDecimalDivide(a, b));
    return QVDecimalSubtract(a, QVDecimalMultiply(b, quotient));
}

Decimal QVDecimalAbsoluteValue(Decimal a)
{
    return QVDecimalIsNegative(a) ? QVDecimalMultiply(a, QVDecimalNegativeOne()) : a;
}

Decimal QVDecimalReciprocal(Decimal a) { return QVDecimalDivide(QVDecimalOne(), a); }

Decimal QVDecimalReduceAngle(Decimal x)
{
    const Decimal r = QVDecimalMod(x, QVDecimalTau());
    return greater(r, QVDecimalPi()) ? QVDecimalSubtract(r, QVDecimalTau()) : r;
}

Decimal QVDecimalSqrt(Decimal a)
{
    if (a.isNaN() || a.isNegative())
        return QVDecimalNaN();
    return a.isZero() ? QVDecimalZero() : newtonRoot(a, 2);
}

Decimal QVDecimalNthRoot(Decimal a, Decimal n)
{
    if (a.isNaN() || n.isNaN())
        return QVDecimalNaN();
    if (!QVDecimalIsInteger(n) || n.isZero())
        return QVDecimalPower(a, QVDecimalReciprocal(n));
    const uint64_t order = QVUIntegerFromDecimal(QVDecimalAbsoluteValue(n));
    if (a.isNegative() && order % 2 == 0)
        return QVDecimalNaN();
    const Decimal root = a.isZero() || order == 1 ? a : newtonRoot(a, order);
    return n.isNegative() ? QVDecimalReciprocal(root) : root;
}

Decimal QVDecimalPower(Decimal base, Decimal exponent)
{
    if (same(exponent, QVDecimalZero()))
        return QVDecimalOne();
    if (QVDecimalIsInteger(exponent) && less(QVDecimalZero(), exponent)) {
        Decimal r;
        DecimalPower(&r, base, QVUIntegerFromDecimal(exponent), bankers);
        return r;
    }
    return QVDecimalFromDouble(std::pow(QVDoubleFromDecimal(base), QVDoubleFromDecimal(exponent)));
}

Decimal QVDecimalFactorial(Decimal a)
{
    constexpr int64_t largest = 200; // 104! already overflows
    static const auto table = [] {
        std::array<Decimal, largest + 1> t;
        t[0] = QVDecimalOne();
        for (int64_t n = 1; n <= largest; ++n)
            t[n] = QVDecimalMultiply(t[n - 1], QVDecimalFromInteger(n)); // NaN from the first overflow on
        return t;
    }();
    if (!QVDecimalIsInteger(a))
        return QVDecimalFromDouble(std::tgamma(QVDoubleFromDecimal(a) + 1.0));
    a = QVDecimalAbsoluteValue(a);
    return greater(a, QVDecimalFromInteger(largest)) ? QVDecimalNaN() : table[a.toUInt64()];
}

Decimal QVDecimalLeftShift(Decimal a, Decimal n) { return shift(a, n, true); }

Decimal QVDecimalRightShift(Decimal a, Decimal n) { return shift(a, n, false); }

Decimal QVDecimalSin(Decimal x) { return circularSeries(x, true); }

Decimal QVDecimalCos(Decimal x) { return circularSeries(x, false); }

Decimal QVDecimalTan(Decimal x)
{
    Decimal cosine;
    DecimalRound(&cosine, QVDecimalCos(x), 34, bankers);
    return QVDecimalDivide(QVDecimalSin(x), cosine);
}

Decimal QVDecimalCsc(Decimal x) { return QVDecimalReciprocal(QVDecimalSin(x)); }

Decimal QVDecimalSec(Decimal x) { return QVDecimalReciprocal(QVDecimalCos(x)); }

Decimal QVDecimalCot(Decimal x) { return QVDecimalReciprocal(QVDecimalTan(x)); }

Decimal QVDecimalAsin(Decimal x)
{
    if (same(x, QVDecimalOne()))
        return QVDecimalPi_2();
    const Decimal magnitude = QVDecimalAbsoluteValue(x);
    if (same(magnitude, QVDecimalOne()))
        return QVDecimalMultiply(QVDecimalPi_2(), QVDecimalNegativeOne());
    if (less(QVDecimalOne(), magnitude))
        return QVDecimalNaN();
    // 1 − x² as (1 − x)(1 + x): no cancellation near ±1.
    const Decimal cosine = QVDecimalSqrt(
        QVDecimalMultiply(QVDecimalSubtract(QVDecimalOne(), x), QVDecimalAdd(QVDecimalOne(), x)));
    return QVDecimalAtan(QVDecimalDivide(x, cosine));
}

Decimal QVDecimalAcos(Decimal x) { return QVDecimalSubtract(QVDecimalPi_2(), QVDecimalAsin(x)); }

Decimal QVDecimalAtan(Decimal x)
{
    static const Decimal quarter = constant("0.25");
    // Two half-angle steps bring the argument to at most tan(π/8), where 74 terms suffice.
    if (greater(QVDecimalAbsoluteValue(x), quarter))
        return QVDecimalMultiply(QVDecimalFromInteger(4), atanSeries(halfAngle(halfAngle(x))));
    return atanSeries(x);
}

Decimal QVDecimalAcsc(Decimal x) { return QVDecimalSubtract(QVDecimalPi_2(), QVDecimalAsec(x)); }

Decimal QVDecimalAsec(Decimal x) { return QVDecimalSubtract(QVDecimalPi_2(), QVDecimalAsin(QVDecimalReciprocal(x))); }

Decimal QVDecimalAcot(Decimal x) { return QVDecimalSubtract(QVDecimalPi_2(), QVDecimalAtan(x)); }

Decimal QVDecimalSinh(Decimal x) { return hyperbolicSeries(x, x, 3); }

Decimal QVDecimalCosh(Decimal x) { return hyperbolicSeries(x, QVDecimalOne(), 2); }

Decimal QVDecimalTanh(Decimal x)
{
    // ±1 in 38 digits from 45 on, while sinh and cosh overflow from about 380.
    static const Decimal saturated = QVDecimalFromInteger(45);
    if (greater(QVDecimalAbsoluteValue(x), saturated))
        return x.isNegative() ? QVDecimalNegativeOne() : QVDecimalOne();
    return QVDecimalDivide(QVDecimalSinh(x), QVDecimalCosh(x));
}

Decimal QVDecimalCsch(Decimal x) { return reciprocalOfHyperbolic(QVDecimalSinh(x), x); }

Decimal QVDecimalSech(Decimal x) { return reciprocalOfHyperbolic(QVDecimalCosh(x), x); }

Decimal QVDecimalCoth(Decimal x) { return QVDecimalReciprocal(QVDecimalTanh(x)); }

Decimal QVDecimalAsinh(Decimal x) { return throughDouble([](double v) { return std::asinh(v); }, x); }

Decimal QVDecimalAcosh(Decimal x) { return throughDouble([](double v) { return std::acosh(v); }, x); }

Decimal QVDecimalAtanh(Decimal x) { return throughDouble([](double v) { return std::atanh(v); }, x); }

Decimal QVDecimalAcsch(Decimal x) { return QVDecimalAsinh(QVDecimalReciprocal(x)); }

Decimal QVDecimalAsech(Decimal x) { return QVDecimalAcosh(QVDecimalReciprocal(x)); }

Decimal QVDecimalAcoth(Decimal x) { return QVDecimalAtanh(QVDecimalReciprocal(x)); }
