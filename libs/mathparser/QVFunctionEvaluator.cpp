#include "QVFunctionEvaluator.h"

#include "QVMathError.h"
#include "QVMathEvaluator.h"
#include "QVMathOperator.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

QVExpressionPtr result(const Number& number) { return QVExpression::numberExpressionWithNumber(number); }
QVExpressionPtr result(double value) { return result(Number(value)); }
QVExpressionPtr result(int64_t value) { return result(Number(value)); }

// Beyond 20! the product no longer fits 64 bits.
constexpr uint64_t largestExactFactorial = 20;

} // namespace

const QVFunctionEvaluator::Table& QVFunctionEvaluator::standardTable()
{
    using F = QVFunctionEvaluator;
    static const Table table = [] {
        Table t = {
        {QStringLiteral("add"), {&F::add, 2, false}},
        {QStringLiteral("subtract"), {&F::subtract, 2, false}},
        {QStringLiteral("multiply"), {&F::multiply, 2, false}},
        {QStringLiteral("divide"), {&F::divide, 2, false}},
        {QStringLiteral("mod"), {&F::mod, 2, false}},
        {QStringLiteral("negate"), {&F::negate, 1, false}},
        {QStringLiteral("factorial"), {&F::factorial, 1, false}},
        {QStringLiteral("pow"), {&F::pow, 2, false}},
        {QStringLiteral("nthroot"), {&F::nthroot, 2, false}},
        {QStringLiteral("and"), {&F::bitAnd, 2, false}},
        {QStringLiteral("or"), {&F::bitOr, 2, false}},
        {QStringLiteral("xor"), {&F::bitXor, 2, false}},
        {QStringLiteral("not"), {&F::bitNot, 1, false}},
        {QStringLiteral("rshift"), {&F::rshift, 2, false}},
        {QStringLiteral("lshift"), {&F::lshift, 2, false}},
        {QStringLiteral("sum"), {&F::sum, 1, true}},
        {QStringLiteral("count"), {&F::count, 1, true}},
        {QStringLiteral("average"), {&F::average, 2, true}},
        {QStringLiteral("min"), {&F::min, 2, true}},
        {QStringLiteral("max"), {&F::max, 2, true}},
        {QStringLiteral("median"), {&F::median, 2, true}},
        {QStringLiteral("stddev"), {&F::stddev, 2, true}},
        {QStringLiteral("random"), {&F::random, -1, false}},
        {QStringLiteral("sqrt"), {&F::sqrt, 1, false}},
        {QStringLiteral("log"), {&F::log, 1, false}},
        {QStringLiteral("ln"), {&F::ln, 1, false}},
        {QStringLiteral("log2"), {&F::log2, 1, false}},
        {QStringLiteral("exp"), {&F::exp, 1, false}},
        {QStringLiteral("ceil"), {&F::ceil, 1, false}},
        {QStringLiteral("floor"), {&F::floor, 1, false}},
        {QStringLiteral("abs"), {&F::abs, 1, false}},
        {QStringLiteral("percent"), {&F::percent, 1, false}},
        };
        addAngleFunctions(t);
        return t;
    }();
    return table;
}

const QVFunctionEvaluator::Table& QVFunctionEvaluator::table() const { return standardTable(); }

const QStringList& QVFunctionEvaluator::standardFunctions()
{
    static const QStringList names = [] {
        QStringList list;
        for (const auto& [name, entry] : standardTable())
            list.append(name);
        std::sort(list.begin(), list.end());
        return list;
    }();
    return names;
}

bool QVFunctionEvaluator::isStandardFunction(const QString& name) { return standardTable().count(name.toLower()) > 0; }

QVariant QVFunctionEvaluator::evaluateFunction(const QVExpression& function, const QVSubstitutions& variables,
                                               Error* error)
{
    const QString name = function.function();
    const auto entry = table().find(name);
    if (entry == table().end())
        return m_evaluator->resolveFunction(function, variables, error);
    const QVExpressionPtr value = invoke(name, entry->second, function.arguments(), variables, error);
    return value ? QVariant::fromValue(value) : QVariant();
}

QVExpressionPtr QVFunctionEvaluator::call(const QString& name, const Arguments& arguments,
                                          const QVSubstitutions& variables, Error* error)
{
    return invoke(name, table().at(name), arguments, variables, error);
}

QVExpressionPtr QVFunctionEvaluator::invoke(const QString& name, const Entry& entry, const Arguments& arguments,
                                            const QVSubstitutions& variables, Error* error)
{
    const qsizetype n = arguments.size();
    if (entry.count >= 0 && (entry.atLeast ? n < entry.count : n != entry.count)) {
        setError(error, QVMathError::argumentCount(name + QStringLiteral(":variables:error:"), entry.count,
                                                   entry.atLeast));
        return nullptr;
    }
    return entry.builtin(*this, arguments, variables, error);
}

std::optional<Number> QVFunctionEvaluator::value(const QVExpressionPtr& argument, const QVSubstitutions& variables,
                                                 Error* error)
{
    return m_evaluator->evaluateExpression(*argument, variables, error);
}

std::optional<QList<Number>> QVFunctionEvaluator::values(const Arguments& arguments,
                                                         const QVSubstitutions& variables, Error* error)
{
    QList<Number> numbers;
    for (const QVExpressionPtr& argument : arguments) {
        const auto number = value(argument, variables, error);
        if (!number)
            return std::nullopt;
        numbers.append(*number);
    }
    return numbers;
}

QVExpressionPtr QVFunctionEvaluator::doubles(const Arguments& arguments, const QVSubstitutions& variables,
                                             Error* error, double (*operation)(double, double))
{
    const auto numbers = values(arguments, variables, error);
    return numbers ? result(operation(numbers->at(0).toDouble(), numbers->at(1).toDouble())) : nullptr;
}

QVExpressionPtr QVFunctionEvaluator::integers(const Arguments& arguments, const QVSubstitutions& variables,
                                              Error* error, int64_t (*operation)(int64_t, int64_t))
{
    const auto numbers = values(arguments, variables, error);
    return numbers ? result(operation(numbers->at(0).toInt64(), numbers->at(1).toInt64())) : nullptr;
}

QVExpressionPtr QVFunctionEvaluator::unaryDouble(const Arguments& arguments, const QVSubstitutions& variables,
                                                 Error* error, double (*operation)(double))
{
    const auto number = value(arguments.at(0), variables, error);
    return number ? result(operation(number->toDouble())) : nullptr;
}

QVExpressionPtr QVFunctionEvaluator::add(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return doubles(a, v, e, [](double x, double y) { return x + y; });
}
QVExpressionPtr QVFunctionEvaluator::subtract(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return doubles(a, v, e, [](double x, double y) { return x - y; });
}
QVExpressionPtr QVFunctionEvaluator::multiply(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return doubles(a, v, e, [](double x, double y) { return x * y; });
}
QVExpressionPtr QVFunctionEvaluator::divide(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return doubles(a, v, e, [](double x, double y) { return x / y; });
}
QVExpressionPtr QVFunctionEvaluator::mod(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return doubles(a, v, e, [](double x, double y) { return std::fmod(x, y); });
}
QVExpressionPtr QVFunctionEvaluator::pow(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return doubles(a, v, e, [](double x, double y) { return std::pow(x, y); });
}
QVExpressionPtr QVFunctionEvaluator::nthroot(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return doubles(a, v, e, [](double x, double y) { return std::pow(x, 1.0 / y); });
}
QVExpressionPtr QVFunctionEvaluator::negate(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return unaryDouble(a, v, e, [](double x) { return -x; });
}

// Whole numbers up to 20 as exact 64-bit products; everything else (0,
// fractions, negatives, NaN and whole numbers above 20) through tgamma.
QVExpressionPtr QVFunctionEvaluator::factorial(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    const auto number = value(a.at(0), v, e);
    if (!number)
        return nullptr;
    const double x = number->toDouble();
    if (std::round(x) != x || x <= 0 || x > double(largestExactFactorial))
        return result(std::tgamma(x + 1.0));
    uint64_t product = 1;
    for (uint64_t i = 2; i <= number->toUInt64(); ++i)
        product *= i;
    return result(Number(product));
}

QVExpressionPtr QVFunctionEvaluator::bitAnd(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return integers(a, v, e, [](int64_t x, int64_t y) { return x & y; });
}
QVExpressionPtr QVFunctionEvaluator::bitOr(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return integers(a, v, e, [](int64_t x, int64_t y) { return x | y; });
}
QVExpressionPtr QVFunctionEvaluator::bitXor(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return integers(a, v, e, [](int64_t x, int64_t y) { return x ^ y; });
}
// Only the low six bits of the count: the shift is defined for every count.
QVExpressionPtr QVFunctionEvaluator::rshift(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return integers(a, v, e, [](int64_t x, int64_t y) { return x >> (y & 63); });
}
QVExpressionPtr QVFunctionEvaluator::lshift(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return integers(a, v, e, [](int64_t x, int64_t y) { return int64_t(uint64_t(x) << (y & 63)); });
}
QVExpressionPtr QVFunctionEvaluator::bitNot(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    const auto number = value(a.at(0), v, e);
    return number ? result(~number->toInt64()) : nullptr;
}

QVExpressionPtr QVFunctionEvaluator::sum(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    double total = 0.0;
    for (const QVExpressionPtr& argument : a) {
        const auto number = value(argument, v, e);
        if (!number)
            return nullptr;
        total += number->toDouble();
    }
    return result(total);
}

QVExpressionPtr QVFunctionEvaluator::count(const Arguments& a, const QVSubstitutions&, Error*)
{
    return result(Number(Decimal::fromInteger(a.size())));
}

QVExpressionPtr QVFunctionEvaluator::average(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    const QVExpressionPtr total = call(QStringLiteral("sum"), a, v, e);
    return total ? result(total->number().toDouble() / double(a.size())) : nullptr;
}

// The argument's own number object, so integers stay integers; equal values
// keep the earlier one.
QVExpressionPtr QVFunctionEvaluator::chosen(const Arguments& a, const QVSubstitutions& v, Error* e,
                                            ComparisonResult replaceWhen)
{
    const auto numbers = values(a, v, e);
    if (!numbers)
        return nullptr;
    Number current = numbers->front();
    for (const Number& number : *numbers) {
        if (current.compare(number) == replaceWhen)
            current = number;
    }
    return result(current);
}
QVExpressionPtr QVFunctionEvaluator::min(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return chosen(a, v, e, ComparisonResult::Descending);
}
QVExpressionPtr QVFunctionEvaluator::max(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return chosen(a, v, e, ComparisonResult::Ascending);
}

std::optional<QList<Number>> QVFunctionEvaluator::sortedValues(const Arguments& a, const QVSubstitutions& v,
                                                               Error* e)
{
    auto numbers = values(a, v, e);
    if (numbers)
        std::stable_sort(numbers->begin(), numbers->end(), [](const Number& x, const Number& y) {
            return x.compare(y) == ComparisonResult::Ascending;
        });
    return numbers;
}

QVExpressionPtr QVFunctionEvaluator::median(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    const auto numbers = sortedValues(a, v, e);
    if (!numbers)
        return nullptr;
    const qsizetype n = numbers->size();
    if (n % 2 == 1)
        return result(numbers->at(n / 2));
    return result((numbers->at(n / 2 - 1).toDouble() + numbers->at(n / 2).toDouble()) * 0.5);
}

// Population deviation; the arguments are evaluated twice, once by average.
QVExpressionPtr QVFunctionEvaluator::stddev(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    const QVExpressionPtr mean = call(QStringLiteral("average"), a, v, e);
    if (!mean)
        return nullptr;
    double total = 0.0;
    for (const QVExpressionPtr& argument : a) {
        const auto number = value(argument, v, e);
        if (!number)
            return nullptr;
        const double deviation = mean->number().toDouble() - number->toDouble();
        total += deviation * deviation;
    }
    return result(std::sqrt(total / double(a.size())));
}

// Uniform in [max(lower, 0), upper), drawn at once rather than by retrying
// until a draw reaches the lower bound: an empty range is an error.
QVExpressionPtr QVFunctionEvaluator::random(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    if (a.size() > 2) {
        setError(e, QVMathError::tooManyRandomArguments());
        return nullptr;
    }
    const auto numbers = values(a, v, e);
    if (!numbers)
        return nullptr;
    const int64_t lower = numbers->size() > 0 ? numbers->at(0).toInt64() : std::numeric_limits<int64_t>::min();
    const uint32_t upper = numbers->size() > 1 ? uint32_t(numbers->at(1).toInt64()) : UINT32_MAX;
    const int64_t first = std::max<int64_t>(lower, 0);
    const int64_t end = std::max<int64_t>(upper, 1); // an upper bound of 0 draws 0 as well
    if (first >= end) {
        setError(e, QVMathError::emptyRandomRange());
        return nullptr;
    }
    return result(first + int64_t(arc4random_uniform(uint32_t(end - first))));
}

QVExpressionPtr QVFunctionEvaluator::sqrt(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return unaryDouble(a, v, e, [](double x) { return std::sqrt(x); });
}
QVExpressionPtr QVFunctionEvaluator::log(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return unaryDouble(a, v, e, [](double x) { return std::log10(x); });
}
QVExpressionPtr QVFunctionEvaluator::ln(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return unaryDouble(a, v, e, [](double x) { return std::log(x); });
}
QVExpressionPtr QVFunctionEvaluator::log2(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return unaryDouble(a, v, e, [](double x) { return std::log2(x); });
}
QVExpressionPtr QVFunctionEvaluator::exp(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return unaryDouble(a, v, e, [](double x) { return std::exp(x); });
}
QVExpressionPtr QVFunctionEvaluator::ceil(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return unaryDouble(a, v, e, [](double x) { return std::ceil(x); });
}
QVExpressionPtr QVFunctionEvaluator::floor(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    return unaryDouble(a, v, e, [](double x) { return std::floor(x); });
}

// Of the truncated integer; the smallest integer, which has no positive
// counterpart, gives the largest.
QVExpressionPtr QVFunctionEvaluator::abs(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    const auto number = value(a.at(0), v, e);
    if (!number)
        return nullptr;
    const int64_t x = number->toInt64();
    return result(x == std::numeric_limits<int64_t>::min() ? std::numeric_limits<int64_t>::max() : std::abs(x));
}

// The first operand is evaluated here once more; the share is evaluated
// even when that fails.
std::optional<Number> QVFunctionEvaluator::percentBase(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    const QVExpressionPtr call = a.at(0)->parentExpression();
    const QVExpressionPtr context = call ? call->parentExpression() : nullptr;
    std::optional<Number> base = Number(int64_t(1));
    if (context && context->expressionType() == QVExpressionType::Function) {
        const auto op = QVMathOperator::infoForOperatorFunction(context->function());
        const QString function = context->function();
        if (op && op->arity() == QVMathOperatorArity::Binary
            && (function == QLatin1String("add") || function == QLatin1String("subtract"))
            && context->arguments().size() > 1 && context->arguments().at(1) == call)
            base = value(context->arguments().at(0), v, e);
    }
    return base;
}

QVExpressionPtr QVFunctionEvaluator::percent(const Arguments& a, const QVSubstitutions& v, Error* e)
{
    const auto base = percentBase(a, v, e);
    const auto share = value(a.at(0), v, e);
    if (!base || !share)
        return nullptr;
    return result(share->toDouble() / 100.0 * base->toDouble());
}
