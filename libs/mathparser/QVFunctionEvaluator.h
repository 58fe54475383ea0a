#pragma once

#include "Error.h"
#include "QVExpression.h"
#include "QVMathOperatorSet.h"

#include <QStringList>
#include <QVariant>

#include <functional>
#include <optional>
#include <unordered_map>

class QVMathEvaluator;

// In degree mode (angle mode 1) the argument wrapped in a call of "dtor" and
// the result in one of "rtod", unless it already is such a call; unchanged in
// every other mode. Null when the wrapper cannot be made.
QVExpressionPtr QVConvertArgumentToRadians(const QVExpressionPtr& argument, QVMathEvaluator* evaluator, Error* error);
QVExpressionPtr QVConvertResultToDegrees(const QVExpressionPtr& result, QVMathEvaluator* evaluator, Error* error);

// The built-in functions, computed in double precision (a few in integers).
// Each is found by its lowercase name in a table per class, in which a
// subclass's entry wins; its argument count is checked before anything is
// evaluated, and it evaluates its arguments itself through the evaluator.
class QVFunctionEvaluator {
public:
    // The evaluator owns this object and outlives it.
    explicit QVFunctionEvaluator(QVMathEvaluator* evaluator) : m_evaluator(evaluator) {}
    virtual ~QVFunctionEvaluator() = default;
    QVFunctionEvaluator(const QVFunctionEvaluator&) = delete;
    QVFunctionEvaluator& operator=(const QVFunctionEvaluator&) = delete;

    QVMathEvaluator* evaluator() const { return m_evaluator; }

    // The built-ins' names sorted by UTF-16 code unit; made once per process.
    static const QStringList& standardFunctions();
    static bool isStandardFunction(const QString& name);

    // A built-in's number expression, or what the evaluator's resolveFunction
    // gives for any other name; a null QVariant on failure.
    QVariant evaluateFunction(const QVExpression& function, const QVSubstitutions& variables, Error* error);

protected:
    using Arguments = QList<QVExpressionPtr>;
    using Builtin = std::function<QVExpressionPtr(QVFunctionEvaluator&, const Arguments&, const QVSubstitutions&, Error*)>;
    struct Entry {
        Builtin builtin;
        int count;    // required arguments, or at least that many
        bool atLeast; // a negative count checks nothing
    };
    using Table = std::unordered_map<QString, Entry, QVMathOperatorSet::KeyHash>;

    // This class's table; a subclass returns a copy with its own entries put in.
    virtual const Table& table() const;
    static const Table& standardTable();

    // Another built-in of this object's table, its count checked.
    QVExpressionPtr call(const QString& name, const Arguments& arguments, const QVSubstitutions& variables,
                         Error* error);
    std::optional<Number> value(const QVExpressionPtr& argument, const QVSubstitutions& variables, Error* error);
    // Every argument in order; stops at the first failure.
    std::optional<QList<Number>> values(const Arguments& arguments, const QVSubstitutions& variables, Error* error);
    // The argument converted to radians first in degree mode.
    std::optional<Number> angle(const QVExpressionPtr& argument, const QVSubstitutions& variables, Error* error);
    // An angle in radians as the expression to return: a call of "rtod" in degree mode.
    QVExpressionPtr angleResult(const Number& radians, Error* error);
    // Every argument, ascending.
    std::optional<QList<Number>> sortedValues(const Arguments& arguments, const QVSubstitutions& variables,
                                              Error* error);
    // What a percent call's argument is a share of: the first operand of an
    // addition or subtraction whose second operand it is, else 1.
    std::optional<Number> percentBase(const Arguments& arguments, const QVSubstitutions& variables, Error* error);

private:
    enum class AngleUse { None, Argument, Result };
    static Builtin unaryBuiltin(double (*operation)(double), AngleUse use);
    static Builtin constant(double value);
    static Builtin logical(bool (*truth)(const Number&, const Number&));
    static void addAngleFunctions(Table& table);

    QVExpressionPtr invoke(const QString& name, const Entry& entry, const Arguments& arguments,
                           const QVSubstitutions& variables, Error* error);
    QVExpressionPtr doubles(const Arguments& arguments, const QVSubstitutions& variables, Error* error,
                            double (*operation)(double, double));
    QVExpressionPtr integers(const Arguments& arguments, const QVSubstitutions& variables, Error* error,
                             int64_t (*operation)(int64_t, int64_t));
    QVExpressionPtr unaryDouble(const Arguments& arguments, const QVSubstitutions& variables, Error* error,
                                double (*operation)(double));
    QVExpressionPtr chosen(const Arguments& arguments, const QVSubstitutions& variables, Error* error,
                           ComparisonResult replaceWhen);

    QVExpressionPtr add(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr subtract(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr multiply(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr divide(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr mod(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr negate(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr factorial(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr pow(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr nthroot(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr bitAnd(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr bitOr(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr bitXor(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr bitNot(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr rshift(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr lshift(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr sum(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr count(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr average(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr min(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr max(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr median(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr stddev(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr random(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr sqrt(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr log(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr ln(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr log2(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr exp(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr ceil(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr floor(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr abs(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr percent(const Arguments&, const QVSubstitutions&, Error*);

    QVMathEvaluator* m_evaluator;
};

// The evaluator's function evaluator while high precision is on: the
// arithmetic, statistics, angle functions and constants in 38-digit decimals
// (logarithms, exp and fractional factorials still in double); the bitwise,
// min, max, random and logical functions are inherited.
class QVPrecisionFunctionEvaluator : public QVFunctionEvaluator {
public:
    using QVFunctionEvaluator::QVFunctionEvaluator;

protected:
    const Table& table() const override;

private:
    using P = QVPrecisionFunctionEvaluator;
    enum class AngleUse { None, Argument, Result };
    static Builtin unary(Decimal (*operation)(Decimal), AngleUse use = AngleUse::None);
    static Builtin binary(Decimal (*operation)(Decimal, Decimal));
    static Builtin constant(Decimal (*value)());
    static Builtin half(const char* function);
    static Builtin member(QVExpressionPtr (P::*function)(const Arguments&, const QVSubstitutions&, Error*));

    QVExpressionPtr unaryDecimal(const Arguments& arguments, const QVSubstitutions& variables, Error* error,
                                 Decimal (*operation)(Decimal), AngleUse use);
    QVExpressionPtr factorial(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr percent(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr sum(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr average(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr median(const Arguments&, const QVSubstitutions&, Error*);
    QVExpressionPtr stddev(const Arguments&, const QVSubstitutions&, Error*);
};
