// The high-precision replacements of the built-ins, over the decimal routines.
#include "QVFunctionEvaluator.h"

#include "QVDecimalMath.h"

#include <cmath>

namespace {

QVExpressionPtr result(const Decimal& decimal) { return QVExpression::numberExpressionWithNumber(Number(decimal)); }
QVExpressionPtr result(double value) { return QVExpression::numberExpressionWithNumber(Number(value)); }

// The largest whole argument whose factorial still fits the decimal type's
// exponent; beyond it the product is NaN without multiplying.
constexpr int64_t largestFactorial = 200;


} // namespace

QVExpressionPtr QVPrecisionFunctionEvaluator::unaryDecimal(const Arguments& a, const QVSubstitutions& v, Error* e,
                                                           Decimal (*operation)(Decimal), AngleUse use)
{
    const auto x = use == AngleUse::Argument ? angle(a.at(0), v, e) : value(a.at(0), v, e);
    if (!x)
        return nullptr;
    const Number y(operation(x->toDecimal()));
    return use == AngleUse::Result ? angleResult(y, e) : QVExpression::numberExpressionWithNumber(y);
}

QVFunctionEvaluator::Builtin QVPrecisionFunctionEvaluator::unary(Decimal (*operation)(Decimal), AngleUse use)
{
    return [operation, use](QVFunctionEvaluator& f, const Arguments& a, const QVSubstitutions& v, Error* e) {
        return static_cast<P&>(f).unaryDecimal(a, v, e, operation, use);
    };
}

QVFunctionEvaluator::Builtin QVPrecisionFunctionEvaluator::binary(Decimal (*operation)(Decimal, Decimal))
{
    return [operation](QVFunctionEvaluator& f, const Arguments& a, const QVSubstitutions& v, Error* e) {
        const auto numbers = static_cast<P&>(f).values(a, v, e);
        return numbers ? result(operation(numbers->at(0).toDecimal(), numbers->at(1).toDecimal())) : nullptr;
    };
}

QVFunctionEvaluator::Builtin QVPrecisionFunctionEvaluator::constant(Decimal (*value)())
{
    return [value](QVFunctionEvaluator&, const Arguments&, const QVSubstitutions&, Error*) { return result(value()); };
}

// Half of a versine relative, which converts the angle itself.
QVFunctionEvaluator::Builtin QVPrecisionFunctionEvaluator::half(const char* function)
{
    return [function](QVFunctionEvaluator& f, const Arguments& a, const QVSubstitutions& v, Error* e) {
        const QVExpressionPtr whole = static_cast<P&>(f).call(QString::fromLatin1(function), a, v, e);
        return whole ? result(QVDecimalDivide(whole->number().toDecimal(), QVDecimalTwo())) : nullptr;
    };
}

QVFunctionEvaluator::Builtin
QVPrecisionFunctionEvaluator::member(QVExpressionPtr (P::*function)(const Arguments&, const QVSubstitutions&, Error*))
{
    return [function](QVFunctionEvaluator& f, const Arguments& a, const QVSubstitutions& v, Error* e) {
        return (static_cast<P&>(f).*function)(a, v, e);
    };
}

const QVFunctionEvaluator::Table& QVPrecisionFunctionEvaluator::table() const
{
    static const Table table = [] {
        Table t = standardTable();
        const auto put = [&t](const char* name, Builtin builtin, int count, bool atLeast = false) {
            t[QString::fromLatin1(name)] = Entry{std::move(builtin), count, atLeast};
        };
        const struct {
            const char* name;
            Decimal (*operation)(Decimal, Decimal);
        } binaries[] = {
            {"add", QVDecimalAdd},
            {"subtract", QVDecimalSubtract},
            {"multiply", QVDecimalMultiply},
            {"divide", QVDecimalDivide},
            {"mod", QVDecimalMod},
            {"pow", QVDecimalPower},
            {"nthroot", [](Decimal a, Decimal b) { return QVDecimalPower(a, QVDecimalReciprocal(b)); }},
            {"lshift", QVDecimalLeftShift},
            {"rshift", QVDecimalRightShift},
        };
        for (const auto& b : binaries)
            put(b.name, binary(b.operation), 2);

        const struct {
            const char* name;
            AngleUse use;
            Decimal (*operation)(Decimal);
        } unaries[] = {
            {"negate", AngleUse::None, [](Decimal x) { QVDecimalNegate(&x); return x; }},
            {"abs", AngleUse::None, [](Decimal x) { if (QVDecimalIsNegative(x)) QVDecimalNegate(&x); return x; }},
            {"ceil", AngleUse::None, [](Decimal x) { DecimalRound(&x, x, 0, RoundingMode::Up); return x; }},
            {"floor", AngleUse::None, [](Decimal x) { DecimalRound(&x, x, 0, RoundingMode::Down); return x; }},
            {"sqrt", AngleUse::None, QVDecimalSqrt},
            {"sin", AngleUse::Argument, QVDecimalSin},
            {"cos", AngleUse::Argument, QVDecimalCos},
            {"tan", AngleUse::Argument, QVDecimalTan},
            {"csc", AngleUse::Argument, QVDecimalCsc},
            {"sec", AngleUse::Argument, QVDecimalSec},
            {"cotan", AngleUse::Argument, QVDecimalCot},
            {"asin", AngleUse::Result, QVDecimalAsin},
            {"acos", AngleUse::Result, QVDecimalAcos},
            {"atan", AngleUse::Result, QVDecimalAtan},
            {"acsc", AngleUse::Result, QVDecimalAcsc},
            {"asec", AngleUse::Result, QVDecimalAsec},
            {"acotan", AngleUse::Result, QVDecimalAcot},
            {"sinh", AngleUse::Argument, QVDecimalSinh},
            {"cosh", AngleUse::Argument, QVDecimalCosh},
            {"tanh", AngleUse::Argument, QVDecimalTanh},
            {"csch", AngleUse::Argument, QVDecimalCsch},
            {"sech", AngleUse::Argument, QVDecimalSech},
            {"cotanh", AngleUse::Argument, QVDecimalCoth},
            {"asinh", AngleUse::Result, QVDecimalAsinh},
            {"acosh", AngleUse::Result, QVDecimalAcosh},
            {"atanh", AngleUse::Result, QVDecimalAtanh},
            {"acsch", AngleUse::Result, QVDecimalAcsch},
            {"asech", AngleUse::Result, QVDecimalAsech},
            {"acotanh", AngleUse::Result, QVDecimalAcoth},
            {"versin", AngleUse::Argument, [](Decimal x) { return QVDecimalSubtract(QVDecimalOne(), QVDecimalCos(x)); }},
            {"vercosin", AngleUse::Argument, [](Decimal x) { return QVDecimalAdd(QVDecimalOne(), QVDecimalCos(x)); }},
            {"coversin", AngleUse::Argument, [](Decimal x) { return QVDecimalSubtract(QVDecimalOne(), QVDecimalSin(x)); }},
            {"covercosin", AngleUse::Argument, [](Decimal x) { return QVDecimalAdd(QVDecimalOne(), QVDecimalSin(x)); }},
            {"exsec", AngleUse::Argument, [](Decimal x) { x = QVDecimalCos(x); QVDecimalInvert(&x); return QVDecimalSubtract(x, QVDecimalOne()); }},
            {"excsc", AngleUse::Argument, [](Decimal x) { x = QVDecimalSin(x); QVDecimalInvert(&x); return QVDecimalSubtract(x, QVDecimalOne()); }},
            {"crd", AngleUse::Argument, [](Decimal x) { return QVDecimalMultiply(QVDecimalSin(QVDecimalDivide(x, QVDecimalTwo())), QVDecimalTwo()); }},
            {"dtor", AngleUse::None, [](Decimal x) { return QVDecimalMultiply(QVDecimalDivide(x, QVDecimalFromInteger(180)), QVDecimalPi()); }},
            {"rtod", AngleUse::None, [](Decimal x) { return QVDecimalMultiply(QVDecimalDivide(x, QVDecimalPi()), QVDecimalFromInteger(180)); }},
        };
        for (const auto& u : unaries)
            put(u.name, unary(u.operation, u.use), 1);

        // Through double, as decimals of their double result.
        const struct {
            const char* name;
            double (*operation)(double);
        } doubles[] = {
            {"log", [](double x) { return std::log10(x); }},
            {"ln", [](double x) { return std::log(x); }},
            {"log2", [](double x) { return std::log2(x); }},
            {"exp", [](double x) { return std::exp(x); }},
        };
        for (const auto& d : doubles)
            put(d.name, [operation = d.operation](QVFunctionEvaluator& f, const Arguments& a,
                                                  const QVSubstitutions& v, Error* e) {
                const auto x = static_cast<P&>(f).value(a.at(0), v, e);
                return x ? result(operation(x->toDouble())) : nullptr;
            }, 1);

        const struct {
            const char* name;
            const char* whole;
        } halves[] = {
            {"haversin", "versin"},
            {"havercosin", "vercosin"},
            {"hacoversin", "coversin"},
            {"hacovercosin", "covercosin"},
        };
        for (const auto& h : halves)
            put(h.name, half(h.whole), 1);

        const struct {
            const char* name;
            Decimal (*value)();
        } constants[] = {
            {"phi", QVDecimalPhi},       {"pi", QVDecimalPi},         {"pi_2", QVDecimalPi_2},
            {"pi_4", QVDecimalPi_4},     {"sqrt2", QVDecimalSqrt2},   {"e", QVDecimalE},
            {"log2e", QVDecimalLog2e},   {"log10e", QVDecimalLog10e}, {"ln2", QVDecimalLn2},
            {"ln10", QVDecimalLn10},
            {"tau", [] { return QVDecimalMultiply(QVDecimalTwo(), QVDecimalPi()); }},
        };
        for (const auto& c : constants)
            put(c.name, constant(c.value), 0);

        put("factorial", member(&P::factorial), 1);
        put("percent", member(&P::percent), 1);
        put("sum", member(&P::sum), 1, true);
        put("average", member(&P::average), 2, true);
        put("median", member(&P::median), 2, true);
        put("stddev", member(&P::stddev), 2, true);
        return t;
    }();
    return table;
}

// A whole x multiplies from x down to 2; beyond the largest factorial the
// type can hold, and as soon as the product overflows, the answer is NaN.
QVExpressionPtr QVPrecisionFunctionEvaluator::factorial(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    const auto number = value(a.at(0), v, e);
    if (!number)
        return nullptr;
    Decimal x = number->toDecimal();
    if (!QVDecimalIsInteger(x))
        return result(std::tgamma(number->toDouble() + 1.0));
    if (QVDecimalIsNegative(x))
        return result(std::nan(""));
    if (DecimalCompare(x, QVDecimalFromInteger(largestFactorial)) == ComparisonResult::Descending)
        return result(QVDecimalNaN());
    Decimal product = QVDecimalOne();
    while (DecimalCompare(x, QVDecimalOne()) == ComparisonResult::Descending && !product.isNaN()) {
        product = QVDecimalMultiply(product, x);
        x = QVDecimalSubtract(x, QVDecimalOne());
    }
    return result(product);
}

QVExpressionPtr QVPrecisionFunctionEvaluator::percent(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    const auto base = percentBase(a, v, e);
    const auto share = value(a.at(0), v, e);
    if (!base || !share)
        return nullptr;
    return result(QVDecimalMultiply(base->toDecimal(), QVDecimalDivide(share->toDecimal(), QVDecimalFromInteger(100))));
}

QVExpressionPtr QVPrecisionFunctionEvaluator::sum(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    const auto numbers = values(a, v, e);
    if (!numbers)
        return nullptr;
    Decimal total = QVDecimalZero();
    for (const Number& number : *numbers)
        total = QVDecimalAdd(total, number.toDecimal());
    return result(total);
}

QVExpressionPtr QVPrecisionFunctionEvaluator::average(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    const QVExpressionPtr total = call(QStringLiteral("sum"), a, v, e);
    return total ? result(QVDecimalDivide(total->number().toDecimal(), QVDecimalFromInteger(a.size()))) : nullptr;
}

// An odd count gives the middle number as evaluated.
QVExpressionPtr QVPrecisionFunctionEvaluator::median(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    const auto numbers = sortedValues(a, v, e);
    if (!numbers)
        return nullptr;
    const qsizetype n = numbers->size();
    if (n % 2 == 1)
        return QVExpression::numberExpressionWithNumber(numbers->at(n / 2));
    return result(QVDecimalAverage(numbers->at(n / 2 - 1).toDecimal(), numbers->at(n / 2).toDecimal()));
}

// Population deviation; the arguments are evaluated twice, once by average.
QVExpressionPtr QVPrecisionFunctionEvaluator::stddev(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    const QVExpressionPtr mean = call(QStringLiteral("average"), a, v, e);
    const auto numbers = mean ? values(a, v, e) : std::nullopt;
    if (!numbers)
        return nullptr;
    Decimal total = QVDecimalZero();
    for (const Number& number : *numbers) {
        const Decimal deviation = QVDecimalSubtract(mean->number().toDecimal(), number.toDecimal());
        total = QVDecimalAdd(total, QVDecimalPower(deviation, QVDecimalTwo()));
    }
    return result(QVDecimalSqrt(QVDecimalDivide(total, QVDecimalFromInteger(a.size()))));
}
