#!/usr/bin/env python3
"""Writes tests/mathdecimal/data/decimal-golden.json, the reference results for
the 38-digit decimal type and the decimal math routines.

Arithmetic comes from Python's decimal module in a context that is exactly our
type (38 digits, half-even, exponents -128..127 with clamping); the functions
come from mpmath at 60 digits. Fixed seed: the output only changes with this file.

Usage: scripts/make-decimal-golden.py [output.json]
"""
import decimal
import json
import os
import random
import sys

import mpmath

D = decimal.Decimal
CONTEXT = decimal.Context(prec=38, rounding=decimal.ROUND_HALF_EVEN, Emin=-91, Emax=164,
                          clamp=1, traps=[])
WIDE = decimal.Context(prec=1000, Emin=-99999, Emax=99999, traps=[])
MODES = {"plain": decimal.ROUND_HALF_UP, "down": decimal.ROUND_FLOOR,
         "up": decimal.ROUND_CEILING, "bankers": decimal.ROUND_HALF_EVEN}
mpmath.mp.dps = 60
rng = random.Random(36)


def text(d):
    """Plain notation without trailing zeros, as Decimal::toString writes it."""
    if d.is_nan() or d.is_infinite():
        return "NaN"
    if d.is_zero():
        return "0"
    return format(d.normalize(WIDE), "f")


def operand_text(d):
    """The exact digits and exponent, which Decimal::parse reads without rounding."""
    if d.is_nan():
        return "NaN"
    sign, digits, exponent = d.as_tuple()
    return "%s%sE%d" % ("-" if sign else "", "".join(map(str, digits)), exponent)


def status(result, flags):
    if flags[decimal.DivisionByZero] or flags[decimal.InvalidOperation]:
        return 4
    if flags[decimal.Overflow]:
        return 3
    if flags[decimal.Inexact]:
        return 2 if result.is_zero() else 1
    return 0


def run(operation, *args):
    CONTEXT.clear_flags()
    result = operation(*args)
    code = status(result, CONTEXT.flags)
    return text(result) if code not in (3, 4) else "NaN", code


def random_decimal(digits_max=38):
    """A value of the type: ends, ties, tiny and huge exponents, now and then NaN."""
    kind = rng.random()
    if kind < 0.03:
        return D("NaN")
    if kind < 0.06:
        return D(0)
    digits = rng.choice([1, 2, 3, 5, 10, 19, 20, 37, 38, 38, rng.randint(1, digits_max)])
    digits = min(digits, digits_max)
    if rng.random() < 0.15:
        coefficient = 10 ** digits - 1  # all nines: carries
    elif rng.random() < 0.1:
        coefficient = 10 ** (digits - 1) * rng.choice([1, 5])
    else:
        coefficient = rng.randint(10 ** (digits - 1), 10 ** digits - 1)
    roll = rng.random()
    if roll < 0.15:
        exponent = rng.choice([-128, -127, -100, 127, 126, 100])
    elif roll < 0.6:
        exponent = rng.randint(-20, 5)
    else:
        exponent = rng.randint(-128, 127)
    sign = "-" if rng.random() < 0.4 else ""
    return D("%s%dE%d" % (sign, coefficient, exponent))


def near(d):
    """A second operand close in scale to d, so that sums round and cancel."""
    if d.is_nan() or d.is_zero() or rng.random() < 0.3:
        return random_decimal()
    exponent = max(-128, min(127, d.as_tuple().exponent + rng.randint(-40, 40)))
    digits = rng.randint(1, 38)
    sign = "-" if rng.random() < 0.5 else ""
    return D("%s%dE%d" % (sign, rng.choice([5, rng.randint(10 ** (digits - 1), 10 ** digits - 1)]), exponent))


def arithmetic_cases(count):
    operations = {"add": CONTEXT.add, "subtract": CONTEXT.subtract,
                  "multiply": CONTEXT.multiply, "divide": CONTEXT.divide}
    cases = []
    for name, operation in operations.items():
        for _ in range(count):
            a = random_decimal()
            b = near(a) if name in ("add", "subtract") else random_decimal()
            if name == "divide" and rng.random() < 0.02:
                b = D(0)
            cases.append([name, operand_text(a), operand_text(b), *run(operation, a, b)])
    return cases


def round_cases(count):
    ties = [(D(t), s) for t in ("2.5", "-2.5", "3.5", "-1.5", "0.125", "-0.375", "9.95") for s in (0, 1, 2)]
    picks = [(x, s, m) for x, s in ties for m in MODES]
    picks += [(random_decimal(), None, None) for _ in range(count)]
    cases = []
    for x, scale, mode in picks:
        if scale is None:
            scale = rng.choice([0, 0, 1, 2, 5, 10, 34, -1, -3, rng.randint(-140, 140)])
            mode = rng.choice(list(MODES))
        if x.is_nan() or x.as_tuple().exponent >= -scale:
            expected = text(x)
        else:  # exact quantizing, then this type's padding or overflow
            quantized = x.quantize(D(1).scaleb(-scale), rounding=MODES[mode], context=WIDE)
            expected, _ = run(CONTEXT.plus, quantized)
        cases.append([operand_text(x), scale, mode, expected])
    return cases


def compare_cases(count):
    cases = []
    for _ in range(count):
        a = random_decimal()
        b = rng.choice([a, near(a), random_decimal()])
        if a.is_nan():
            order = -1
        elif b.is_nan():
            order = 1
        else:
            order = int(a.compare(b))
        cases.append([operand_text(a), operand_text(b), order])
    return cases


def parse_cases(count):
    cases = []
    for _ in range(count):
        digits = "".join(rng.choice("0123456789") for _ in range(rng.choice([1, 5, 38, 39, 40, 45, 60])))
        if rng.random() < 0.2:
            digits = "0" * rng.randint(1, 50) + digits
        if rng.random() < 0.15:  # a tie at the 39th digit
            digits = str(rng.randint(10 ** 37, 10 ** 38 - 1)) + "5" + "0" * rng.randint(0, 5)
        point = rng.randint(0, len(digits))
        body = digits[:point] + "." + digits[point:] if rng.random() < 0.6 else digits
        if body == ".":
            body = "0"
        exponent = ""
        if rng.random() < 0.6:
            exponent = rng.choice("eE") + rng.choice(["", "+", "-"]) + str(
                rng.choice([0, 5, 90, 128, 129, 166, 170, 200, rng.randint(0, 300)]))
        sign = rng.choice(["", "", "-", "+"])
        source = sign + body + exponent
        cases.append([source, *run(CONTEXT.create_decimal, source)])
    return cases


def power_cases(count):
    cases = []
    for _ in range(count):
        digits = rng.choice([1, 1, 2, 3, 5, 10, 20, 38])
        base = D("%s%dE%d" % (rng.choice(["", "-"]), rng.randint(10 ** (digits - 1), 10 ** digits - 1),
                              rng.randint(-digits - 3, 3)))
        n = rng.choice([1, 2, 3, 7, 10, 16, 33, 64, rng.randint(1, 200)])
        WIDE.clear_flags()
        exact = WIDE.power(base, n)
        fits = not WIDE.flags[decimal.Inexact] and len(exact.normalize(WIDE).as_tuple().digits) <= 38
        expected, code = run(CONTEXT.power, base, n)
        cases.append([operand_text(base), n, expected, code, fits])
    return cases


def mp(x):
    return mpmath.mpf(str(x))


def reference(value):
    return "NaN" if value is None else mpmath.nstr(value, 50, min_fixed=-200, max_fixed=200)


def uniform(low, high, digits=38):
    x = mpmath.mpf(rng.uniform(low, high))
    return D(mpmath.nstr(x, rng.choice([3, 10, 20, digits]), strip_zeros=True))


def function_cases():
    def values(low, high, extra, count=60):
        return [D(v) for v in extra] + [uniform(low, high) for _ in range(count)]

    pi = "3.1415926535897932384626433832795028842"
    wide_range = ["1E-30", "-1E-30", "0.25", "1", "-1", "0.9", "7", "1E30", "-123456.789", "1E-100"]
    functions = {
        # name: (mpmath function, inputs, relative tolerance, absolute below)
        "sin": (mpmath.sin, values(-10, 10, ["0", pi, "-" + pi, "1.5707963267948966", "1E-20", "1E-60", "1.234"]),
                "1E-34", "1"),
        "cos": (mpmath.cos, values(-10, 10, ["0", pi, "1.5707963267948966", "1E-20", "6.28"]), "1E-34", "1"),
        "tan": (mpmath.tan, values(-1, 1, ["0", "0.5", "-0.785", "1E-25"]), "1E-34", "1"),
        "atan": (mpmath.atan, values(-3, 3, wide_range + ["0.7", "0.26", "0.2"]), "1E-34", "1E-100"),
        "asin": (mpmath.asin, values(-0.999, 0.999, ["0", "0.7", "-0.7", "0.999999", "1E-30", "0.5"]),
                 "1E-34", "1E-100"),
        "acos": (mpmath.acos, values(-0.999, 0.999, ["0", "0.7", "-0.7", "0.999999", "0.5"]), "1E-34", "1"),
        "sinh": (mpmath.sinh, values(-60, 60, ["0", "1E-30", "10", "-10", "100", "300", "0.001"]),
                 "1E-34", "1E-100"),
        "cosh": (mpmath.cosh, values(-60, 60, ["0", "10", "-10", "100", "300", "1E-20"]), "1E-34", "1E-100"),
        "sqrt": (mpmath.sqrt, [D(v) for v in ["0", "2", "123456789012345678901234567890", "1E-30", "9" * 38,
                                              "1E-128", "99E127", "0.25", "1E-127", "3E-128"]]
                 + [uniform(0, 1000) for _ in range(30)] + [random_decimal().copy_abs() for _ in range(40)],
                 "1E-34", "1E-200"),
        "factorial": (lambda n: mpmath.factorial(n) if n < 104 else None,
                      [D(n) for n in list(range(0, 30)) + [33, 34, 35, 45, 50, 60, 80, 100, 103, 104, 105, 150, 200]],
                      "1E-35", "1"),
        "asinh": (mpmath.asinh, values(-100, 100, ["2", "1", "-1", "0.5", "1E-10", "1E100"]), "1E-15", "1E-300"),
        "acosh": (mpmath.acosh, values(1, 100, ["1", "2", "1E100"]), "1E-15", "1E-300"),
        "atanh": (mpmath.atanh, values(-0.999, 0.999, ["0.5", "-0.99", "1E-10"]), "1E-15", "1E-300"),
    }
    table = {}
    for name, (function, inputs, tolerance, absolute) in functions.items():
        cases = [[operand_text(x), reference(function(mp(x)))] for x in inputs if not x.is_nan()]
        table[name] = {"tolerance": tolerance, "absoluteBelow": absolute, "cases": cases}
    return table


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        here, "..", "tests", "mathdecimal", "data", "decimal-golden.json")
    golden = {
        "arithmetic": arithmetic_cases(450),
        "round": round_cases(300),
        "compare": compare_cases(200),
        "parse": parse_cases(300),
        "power": power_cases(200),
        "functions": function_cases(),
    }
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as out:
        json.dump(golden, out, separators=(",", ":"))
        out.write("\n")


if __name__ == "__main__":
    main()
