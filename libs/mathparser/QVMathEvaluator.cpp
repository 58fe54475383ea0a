#include "QVMathEvaluator.h"

#include "ConsoleLog.h"
#include "QVExpressionRewriter.h"
#include "QVFunctionEvaluator.h"
#include "QVMathError.h"
#include "QVMathStringTokenizer.h"
#include "QVParser.h"

#include <algorithm>

namespace {

// Counts one level of evaluation that a substitution or a function block
// opened, for as long as it lasts.
class NestedEvaluation {
public:
    explicit NestedEvaluation(int& depth, int limit = QVMathEvaluator::maximumNestedEvaluations)
        : m_depth(depth), m_limit(limit)
    {
        ++m_depth;
    }
    ~NestedEvaluation() { --m_depth; }
    bool tooDeep() const { return m_depth > m_limit; }

private:
    int& m_depth;
    int m_limit;
};

std::optional<Number> numberValue(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
        return Number(int64_t(value.toLongLong()));
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return Number(uint64_t(value.toULongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
        return Number(value.toDouble());
    default:
        break;
    }
    if (value.metaType() == QMetaType::fromType<Number>())
        return value.value<Number>();
    return std::nullopt;
}

QVariant expressionValue(const Number& number)
{
    return QVariant::fromValue(QVExpression::numberExpressionWithNumber(number));
}

bool stillEmpty(const Error* error) { return error && error->isNull(); }

} // namespace

QVMathEvaluator& QVMathEvaluator::defaultMathEvaluator()
{
    static QVMathEvaluator evaluator;
    return evaluator;
}

const QList<QPair<QString, QString>>& QVMathEvaluator::standardAliases()
{
    static const QList<QPair<QString, QString>> aliases = {
        {QStringLiteral("avg"), QStringLiteral("average")},   {QStringLiteral("mean"), QStringLiteral("average")},
        {QStringLiteral("trunc"), QStringLiteral("floor")},   {QStringLiteral("modulo"), QStringLiteral("mod")},
        {QStringLiteral("\u03C0"), QStringLiteral("pi")},     {QStringLiteral("tau_2"), QStringLiteral("pi")},
        {QStringLiteral("\u03C4"), QStringLiteral("tau")},    {QStringLiteral("\u03D5"), QStringLiteral("phi")},
        {QStringLiteral("vers"), QStringLiteral("versin")},   {QStringLiteral("ver"), QStringLiteral("versin")},
        {QStringLiteral("vercos"), QStringLiteral("vercosin")}, {QStringLiteral("cvs"), QStringLiteral("coversin")},
        {QStringLiteral("chord"), QStringLiteral("crd")},
    };
    return aliases;
}

QVMathEvaluator::QVMathEvaluator()
    : m_functionEvaluator(std::make_unique<QVFunctionEvaluator>(this)),
      m_operatorSet(QVMathOperatorSet::defaultOperatorSet())
{
    for (const auto& [alias, function] : standardAliases())
        addAlias(alias, function);
}

QVMathEvaluator::~QVMathEvaluator() = default;

void QVMathEvaluator::setUsesHighPrecisionEvaluation(bool precise)
{
    if (precise == m_usesHighPrecisionEvaluation)
        return;
    m_usesHighPrecisionEvaluation = precise;
    if (precise)
        m_functionEvaluator = std::make_unique<QVPrecisionFunctionEvaluator>(this);
    else
        m_functionEvaluator = std::make_unique<QVFunctionEvaluator>(this);
}

bool QVMathEvaluator::isNameFree(const QString& name) const
{
    return !QVFunctionEvaluator::isStandardFunction(name) && !m_functionMap.contains(name.toLower());
}

bool QVMathEvaluator::registerFunction(QVFunctionBlock function, const QString& name)
{
    if (!function || !isNameFree(name))
        return false;
    m_functionMap.insert(name.toLower(), std::move(function));
    return true;
}

void QVMathEvaluator::unregisterFunctionWithName(const QString& name) { m_functionMap.remove(name.toLower()); }

bool QVMathEvaluator::addAlias(const QString& alias, const QString& functionName)
{
    if (!isNameFree(alias))
        return false;
    m_functionMap.insert(alias.toLower(), [functionName](const QList<QVExpressionPtr>& arguments,
                                                          const QVSubstitutions& variables,
                                                          QVMathEvaluator& evaluator, Error* error) {
        const QVExpressionPtr call = QVExpression::functionExpressionWithFunction(functionName, arguments, error);
        const auto value = call ? evaluator.evaluateExpression(*call, variables, error) : std::nullopt;
        return value ? expressionValue(*value) : QVariant();
    });
    return true;
}

QStringList QVMathEvaluator::registeredFunctions() const
{
    QStringList names = QVFunctionEvaluator::standardFunctions();
    names.append(m_functionMap.keys());
    std::sort(names.begin(), names.end());
    return names;
}

QVariant QVMathEvaluator::resolveFunction(const QVExpression& function, const QVSubstitutions& variables,
                                          Error* error)
{
    const QString name = function.function();
    const NestedEvaluation nesting(m_nestedEvaluations);
    QVariant result;
    if (!nesting.tooDeep()) {
        QVFunctionBlock block = m_functionMap.value(name);
        if (!block && m_resolvesFunctionsAsVariables) {
            std::optional<Number> value = evaluateValue(variables.value(name), variables, error);
            if (!value)
                value = numberValue(variableWithName(name));
            if (value)
                return expressionValue(*value);
        }
        if (!block && m_functionResolver)
            block = m_functionResolver(name);
        if (block)
            result = block(function.arguments(), variables, *this, error);
    }
    if (!result.isValid() && stillEmpty(error))
        *error = QVMathError::unresolvedFunction(name);
    return result;
}

QVariant QVMathEvaluator::variableWithName(const QString& name) const
{
    return m_variableResolver ? m_variableResolver(name) : QVariant();
}

std::optional<Number> QVMathEvaluator::evaluateString(const QString& text, const QVSubstitutions& substitutions,
                                                      Error* error)
{
    auto parser = QVParser::parserWithTokenizer(QVMathStringTokenizer::tokenizerWithString(text, m_operatorSet, error),
                                                error);
    const QVExpressionPtr expression = parser ? parser->parsedExpressionWithError(error) : nullptr;
    return expression ? evaluateExpression(*expression, substitutions, error) : std::nullopt;
}

std::optional<Number> QVMathEvaluator::evaluateString(const QString& text, const QVSubstitutions& substitutions)
{
    Error error;
    const auto value = evaluateString(text, substitutions, &error);
    if (!value)
        consoleLog(QStringLiteral("error: %1").arg(error.description()));
    return value;
}

std::optional<Number> QVMathEvaluator::evaluateExpression(const QVExpression& expression,
                                                          const QVSubstitutions& substitutions, Error* error)
{
    switch (expression.expressionType()) {
    case QVExpressionType::Number:
        return expression.number();
    case QVExpressionType::Variable:
        return evaluateVariable(expression, substitutions, error);
    case QVExpressionType::Function:
        return evaluateFunction(expression, substitutions, error);
    }
    return std::nullopt;
}

std::optional<Number> QVMathEvaluator::evaluateVariable(const QVExpression& expression,
                                                        const QVSubstitutions& substitutions, Error* error)
{
    const QString& name = expression.variable();
    const QVariant value = substitutions.contains(name) ? substitutions.value(name) : variableWithName(name);
    const NestedEvaluation nesting(m_nestedEvaluations);
    const auto result = nesting.tooDeep() ? std::nullopt : evaluateValue(value, substitutions, error);
    if (!result && stillEmpty(error))
        *error = QVMathError::unresolvedVariable(expression.description(), name);
    return result;
}

std::optional<Number> QVMathEvaluator::evaluateFunction(const QVExpression& expression,
                                                        const QVSubstitutions& substitutions, Error* error)
{
    // A tree is at most maximumDepth deep, and percent evaluates its first
    // operand once more. A node a rewrite shares between two trees names the
    // last as its parent, so percent's operands can lead back to the call:
    // deeper than any tree would take, that is a circle, and it fails.
    const NestedEvaluation nesting(m_nestedFunctions, maximumNestedFunctions);
    if (nesting.tooDeep()) {
        if (stillEmpty(error))
            *error = QVMathError::nestingTooDeep();
        return std::nullopt;
    }
    const QVariant value = m_functionEvaluator->evaluateFunction(expression, substitutions, error);
    if (!value.isValid())
        return std::nullopt;
    const auto result = evaluateValue(value, substitutions, error);
    if (!result && stillEmpty(error))
        *error = QVMathError::invalidReturnType(expression.function());
    return result;
}

std::optional<Number> QVMathEvaluator::evaluateValue(const QVariant& value, const QVSubstitutions& substitutions,
                                                     Error* error)
{
    if (value.metaType() == QMetaType::fromType<QVExpressionPtr>()) {
        const auto expression = value.value<QVExpressionPtr>();
        return expression ? evaluateExpression(*expression, substitutions, error) : std::nullopt;
    }
    if (value.metaType() == QMetaType::fromType<QString>())
        return evaluateString(value.toString(), substitutions, error);
    return numberValue(value);
}

QVExpressionPtr QVMathEvaluator::expressionByRewritingExpression(const QVExpressionPtr& expression)
{
    return QVExpressionRewriter::defaultRewriter().expressionByRewritingExpression(expression, *this);
}

void QVMathEvaluator::addRewriteRule(const QString& rule, const QString& templateText, const QString& condition)
{
    QVExpressionRewriter::defaultRewriter().addRewriteRule(rule, templateText, condition);
}

namespace QVMathParsing {

std::optional<Number> numberByEvaluatingString(const QString& text, const QVSubstitutions& substitutions,
                                               Error* error)
{
    return QVMathEvaluator::defaultMathEvaluator().evaluateString(text, substitutions, error);
}

std::optional<Number> numberByEvaluatingString(const QString& text, const QVSubstitutions& substitutions)
{
    return QVMathEvaluator::defaultMathEvaluator().evaluateString(text, substitutions);
}

} // namespace QVMathParsing
