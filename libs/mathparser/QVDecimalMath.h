#pragma once

#include "decimal/Decimal.h"

#include <cstdint>

// Decimal math in 38 digits for the high-precision evaluator. Plain functions:
// no state but the cached constants, no errors reported; an argument outside a
// routine's domain gives NaN. Arithmetic rounds half to even.

// Constants (π and its kin to 38 digits), made once, safe on first use from
// any thread.
Decimal QVDecimalNaN();
Decimal QVDecimalEpsilon(); // 1E-64
Decimal QVDecimalNegativeOne();
Decimal QVDecimalZero();
Decimal QVDecimalOne();
Decimal QVDecimalTwo();
Decimal QVDecimalPhi();
Decimal QVDecimalPi();
Decimal QVDecimalTau();
Decimal QVDecimalPi_2();
Decimal QVDecimalPi_4();
Decimal QVDecimalSqrt2();
Decimal QVDecimalE();
Decimal QVDecimalLog2e();
Decimal QVDecimalLog10e();
Decimal QVDecimalLn2();
Decimal QVDecimalLn10();

// Conversions; the machine-number ones saturate, and NaN gives 0.
Decimal QVDecimalFromInteger(int64_t i);
Decimal QVDecimalFromDouble(double d);
uint64_t QVUIntegerFromDecimal(Decimal decimal);
float QVFloatFromDecimal(Decimal decimal);
double QVDoubleFromDecimal(Decimal decimal);

// Predicates.
bool QVDecimalIsNegative(Decimal a);
bool QVDecimalIsInteger(Decimal a);
bool QVDecimalIsApproximatelyEqual(Decimal a, Decimal b); // |a − b| below QVDecimalEpsilon

// In place.
void QVDecimalNegate(Decimal* p);
void QVDecimalInvert(Decimal* p);

// Arithmetic.
Decimal QVDecimalAdd(Decimal a, Decimal b);
Decimal QVDecimalSubtract(Decimal a, Decimal b);
Decimal QVDecimalMultiply(Decimal a, Decimal b);
Decimal QVDecimalDivide(Decimal a, Decimal b);
Decimal QVDecimalAverage(Decimal a, Decimal b);
Decimal QVDecimalMod(Decimal a, Decimal b); // takes the sign of b: −1 mod 3 = 2
Decimal QVDecimalAbsoluteValue(Decimal a);
Decimal QVDecimalReciprocal(Decimal a);
Decimal QVDecimalReduceAngle(Decimal x); // into (−π, π]

// Roots, powers, factorial, shifts.
Decimal QVDecimalSqrt(Decimal a);
Decimal QVDecimalNthRoot(Decimal a, Decimal n);
// Decimal for a positive whole exponent, through double for any other.
Decimal QVDecimalPower(Decimal base, Decimal exponent);
// n! for a whole n (of |n| when negative; NaN beyond 200), tgamma(a + 1) in
// double otherwise.
Decimal QVDecimalFactorial(Decimal a);
// a × 2^⌊n⌋ and a / 2^⌊n⌋; a result below 1 becomes 0.
Decimal QVDecimalLeftShift(Decimal a, Decimal n);
Decimal QVDecimalRightShift(Decimal a, Decimal n);

// Circular functions (radians) and their inverses.
Decimal QVDecimalSin(Decimal x);
Decimal QVDecimalCos(Decimal x);
Decimal QVDecimalTan(Decimal x);
Decimal QVDecimalCsc(Decimal x);
Decimal QVDecimalSec(Decimal x);
Decimal QVDecimalCot(Decimal x);
Decimal QVDecimalAsin(Decimal x);
Decimal QVDecimalAcos(Decimal x);
Decimal QVDecimalAtan(Decimal x);
Decimal QVDecimalAcsc(Decimal x);
Decimal QVDecimalAsec(Decimal x);
Decimal QVDecimalAcot(Decimal x);

// Hyperbolic functions and their inverses; the inverses go through double.
Decimal QVDecimalSinh(Decimal x);
Decimal QVDecimalCosh(Decimal x);
Decimal QVDecimalTanh(Decimal x);
Decimal QVDecimalCsch(Decimal x);
Decimal QVDecimalSech(Decimal x);
Decimal QVDecimalCoth(Decimal x);
Decimal QVDecimalAsinh(Decimal x);
Decimal QVDecimalAcosh(Decimal x);
Decimal QVDecimalAtanh(Decimal x);
Decimal QVDecimalAcsch(Decimal x);
Decimal QVDecimalAsech(Decimal x);
Decimal QVDecimalAcoth(Decimal x);
