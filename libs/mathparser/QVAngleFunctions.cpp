// The angle functions, the degree conversions, the named constants and the
// logical functions of the standard function evaluator, in double.
#include "QVFunctionEvaluator.h"

#include "QVMathEvaluator.h"

#include <cmath>

namespace {

constexpr int64_t degreeMode = 1;
constexpr double pi = 3.141592653589793;
constexpr double halfPi = 1.5707963267948966;

QVExpressionPtr wrapped(const QVExpressionPtr& expression, QVMathEvaluator* evaluator, const QString& function,
                        Error* error)
{
    if (!evaluator || evaluator->angleMeasurementMode() != degreeMode)
        return expression;
    if (expression->expressionType() == QVExpressionType::Function && expression->function() == function)
        return expression;
    return QVExpression::functionExpressionWithFunction(function, {expression}, error);
}

// NaN is unordered: it is neither equal to, smaller nor greater than anything.
bool ordered(const Number& a, const Number& b) { return !a.isNaN() && !b.isNaN(); }

} // namespace

QVExpressionPtr QVConvertArgumentToRadians(const QVExpressionPtr& argument, QVMathEvaluator* evaluator, Error* error)
{
    return wrapped(argument, evaluator, QStringLiteral("dtor"), error);
}

QVExpressionPtr QVConvertResultToDegrees(const QVExpressionPtr& result, QVMathEvaluator* evaluator, Error* error)
{
    return wrapped(result, evaluator, QStringLiteral("rtod"), error);
}

std::optional<Number> QVFunctionEvaluator::angle(const QVExpressionPtr& argument, const QVSubstitutions& variables,
                                                 Error* error)
{
    const QVExpressionPtr radians = QVConvertArgumentToRadians(argument, m_evaluator, error);
    return radians ? value(radians, variables, error) : std::nullopt;
}

QVExpressionPtr QVFunctionEvaluator::angleResult(const Number& radians, Error* error)
{
    return QVConvertResultToDegrees(QVExpression::numberExpressionWithNumber(radians), m_evaluator, error);
}

QVFunctionEvaluator::Builtin QVFunctionEvaluator::unaryBuiltin(double (*operation)(double), AngleUse use)
{
    return [operation, use](QVFunctionEvaluator& f, const Arguments& a, const QVSubstitutions& v, Error* e) {
        const auto x = use == AngleUse::Argument ? f.angle(a.at(0), v, e) : f.value(a.at(0), v, e);
        if (!x)
            return QVExpressionPtr();
        const Number y(operation(x->toDouble()));
        return use == AngleUse::Result ? f.angleResult(y, e) : QVExpression::numberExpressionWithNumber(y);
    };
}

QVFunctionEvaluator::Builtin QVFunctionEvaluator::constant(double value)
{
    return [value](QVFunctionEvaluator&, const Arguments&, const QVSubstitutions&, Error*) {
        return QVExpression::numberExpressionWithNumber(Number(value));
    };
}

// Both operands are evaluated before either is looked at; 1 or 0.
QVFunctionEvaluator::Builtin QVFunctionEvaluator::logical(bool (*truth)(const Number&, const Number&))
{
    return [truth](QVFunctionEvaluator& f, const Arguments& a, const QVSubstitutions& v, Error* e) {
        const auto numbers = f.values(a, v, e);
        if (!numbers)
            return QVExpressionPtr();
        const Number& first = numbers->at(0);
        const Number& second = numbers->size() > 1 ? numbers->at(1) : first;
        return QVExpression::numberExpressionWithNumber(Number(int64_t(truth(first, second) ? 1 : 0)));
    };
}

void QVFunctionEvaluator::addAngleFunctions(Table& t)
{
    using Operation = double (*)(double);
    const auto add = [&t](const char* name, Builtin builtin, int count) {
        t.insert({QString::fromLatin1(name), {std::move(builtin), count, false}});
    };
    const struct {
        const char* name;
        AngleUse use;
        Operation operation;
    } unaries[] = {
        {"sin", AngleUse::Argument, [](double x) { return std::sin(x); }},
        {"cos", AngleUse::Argument, [](double x) { return std::cos(x); }},
        {"tan", AngleUse::Argument, [](double x) { return std::tan(x); }},
        {"asin", AngleUse::Result, [](double x) { return std::asin(x); }},
        {"acos", AngleUse::Result, [](double x) { return std::acos(x); }},
        {"atan", AngleUse::Result, [](double x) { return std::atan(x); }},
        {"sinh", AngleUse::Argument, [](double x) { return std::sinh(x); }},
        {"cosh", AngleUse::Argument, [](double x) { return std::cosh(x); }},
        {"tanh", AngleUse::Argument, [](double x) { return std::tanh(x); }},
        {"asinh", AngleUse::Result, [](double x) { return std::asinh(x); }},
        {"acosh", AngleUse::Result, [](double x) { return std::acosh(x); }},
        {"atanh", AngleUse::Result, [](double x) { return std::atanh(x); }},
        {"csc", AngleUse::Argument, [](double x) { return 1.0 / std::sin(x); }},
        {"sec", AngleUse::Argument, [](double x) { return 1.0 / std::cos(x); }},
        {"cotan", AngleUse::Argument, [](double x) { return 1.0 / std::tan(x); }},
        {"acsc", AngleUse::Result, [](double x) { return std::asin(1.0 / x); }},
        {"asec", AngleUse::Result, [](double x) { return std::acos(1.0 / x); }},
        {"acotan", AngleUse::Result, [](double x) { return halfPi - std::atan(x); }},
        {"csch", AngleUse::Argument, [](double x) { return 1.0 / std::sinh(x); }},
        {"sech", AngleUse::Argument, [](double x) { return 1.0 / std::cosh(x); }},
        {"cotanh", AngleUse::Argument, [](double x) { return 1.0 / std::tanh(x); }},
        {"acsch", AngleUse::Result, [](double x) { return std::asinh(1.0 / x); }},
        {"asech", AngleUse::Result, [](double x) { return std::acosh(1.0 / x); }},
        {"acotanh", AngleUse::Result, [](double x) { return std::atanh(1.0 / x); }},
        {"versin", AngleUse::Argument, [](double x) { return 1.0 - std::cos(x); }},
        {"vercosin", AngleUse::Argument, [](double x) { return 1.0 + std::cos(x); }},
        {"coversin", AngleUse::Argument, [](double x) { return 1.0 - std::sin(x); }},
        {"covercosin", AngleUse::Argument, [](double x) { return 1.0 + std::sin(x); }},
        {"haversin", AngleUse::Argument, [](double x) { return (1.0 - std::cos(x)) * 0.5; }},
        {"havercosin", AngleUse::Argument, [](double x) { return (1.0 + std::cos(x)) * 0.5; }},
        {"hacoversin", AngleUse::Argument, [](double x) { return (1.0 - std::sin(x)) * 0.5; }},
        {"hacovercosin", AngleUse::Argument, [](double x) { return (1.0 + std::sin(x)) * 0.5; }},
        {"exsec", AngleUse::Argument, [](double x) { return 1.0 / std::cos(x) - 1.0; }},
        {"excsc", AngleUse::Argument, [](double x) { return 1.0 / std::sin(x) - 1.0; }},
        {"crd", AngleUse::Argument, [](double x) { return 2.0 * std::sin(x * 0.5); }},
        {"dtor", AngleUse::None, [](double x) { return x / 180.0 * pi; }},
        {"rtod", AngleUse::None, [](double x) { return x / pi * 180.0; }},
    };
    for (const auto& unary : unaries)
        add(unary.name, unaryBuiltin(unary.operation, unary.use), 1);

    const struct {
        const char* name;
        double value;
    } constants[] = {
        {"phi", 1.618033988749895},   {"pi", pi},
        {"pi_2", halfPi},             {"pi_4", 0.7853981633974483},
        {"tau", 6.283185307179586},   {"sqrt2", 1.4142135623730951},
        {"e", 2.718281828459045},     {"log2e", 1.4426950408889634},
        {"log10e", 0.4342944819032518}, {"ln2", 0.6931471805599453},
        {"ln10", 2.302585092994046},
    };
    for (const auto& c : constants)
        add(c.name, constant(c.value), 0);

    using Truth = bool (*)(const Number&, const Number&);
    const struct {
        const char* name;
        int count;
        Truth truth;
    } logicals[] = {
        {"l_and", 2, [](const Number& a, const Number& b) { return a.boolValue() && b.boolValue(); }},
        {"l_or", 2, [](const Number& a, const Number& b) { return a.boolValue() || b.boolValue(); }},
        {"l_not", 1, [](const Number& a, const Number&) { return !a.boolValue(); }},
        {"l_eq", 2, [](const Number& a, const Number& b) { return ordered(a, b) && a.compare(b) == ComparisonResult::Same; }},
        {"l_neq", 2, [](const Number& a, const Number& b) { return !ordered(a, b) || a.compare(b) != ComparisonResult::Same; }},
        {"l_lt", 2, [](const Number& a, const Number& b) { return ordered(a, b) && a.compare(b) == ComparisonResult::Ascending; }},
        {"l_gt", 2, [](const Number& a, const Number& b) { return ordered(a, b) && a.compare(b) == ComparisonResult::Descending; }},
        {"l_ltoe", 2, [](const Number& a, const Number& b) { return ordered(a, b) && a.compare(b) != ComparisonResult::Descending; }},
        {"l_gtoe", 2, [](const Number& a, const Number& b) { return ordered(a, b) && a.compare(b) != ComparisonResult::Ascending; }},
    };
    for (const auto& l : logicals)
        add(l.name, logical(l.truth), l.count);
}
