#pragma once

#include "Error.h"
#include "QVExpression.h"
#include "QVMathOperatorSet.h"

#include <QHash>
#include <QPair>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

class QVFunctionEvaluator;
class QVMathEvaluator;

// A function registered by name: the unevaluated arguments, the substitutions
// of the evaluation, the calling evaluator and an optional error. It returns
// an expression, a QString or a Number, evaluated in turn; a null QVariant
// means failure.
using QVFunctionBlock = std::function<QVariant(const QList<QVExpressionPtr>& arguments,
                                               const QVSubstitutions& variables, QVMathEvaluator& evaluator,
                                               Error* error)>;
using QVFunctionResolver = std::function<QVFunctionBlock(const QString& name)>;
// A Number, a QString or an expression; a null QVariant when the name is unknown.
using QVVariableResolver = std::function<QVariant(const QString& name)>;

// Turns math strings into numbers and evaluates expression trees against
// substitutions. Names of functions and aliases compare without regard to
// case. No locks: an evaluator, the default one included, serves one thread
// at a time, and configuration must not overlap an evaluation.
class QVMathEvaluator {
public:
    // Substitutions and function blocks may lead back to themselves: deeper
    // than this, the variable or function counts as unresolved (code 14 or 15).
    static constexpr int maximumNestedEvaluations = 64;
    // Function calls evaluated inside one another.
    static constexpr int maximumNestedFunctions = 4 * QVExpression::maximumDepth;

    // Made on first use (safe under concurrent first use) and shared by every
    // caller: like any evaluator, it serves one thread at a time.
    static QVMathEvaluator& defaultMathEvaluator();
    static QVMathEvaluator& sharedMathEvaluator() { return defaultMathEvaluator(); }
    // Alias, then the function it stands for.
    static const QList<QPair<QString, QString>>& standardAliases();

    QVMathEvaluator();
    ~QVMathEvaluator();
    QVMathEvaluator(const QVMathEvaluator&) = delete;
    QVMathEvaluator& operator=(const QVMathEvaluator&) = delete;

    bool usesHighPrecisionEvaluation() const { return m_usesHighPrecisionEvaluation; }
    // A change replaces the function evaluator; the same value keeps it.
    void setUsesHighPrecisionEvaluation(bool precise);
    const QVFunctionEvaluator* functionEvaluator() const { return m_functionEvaluator.get(); }

    bool resolvesFunctionsAsVariables() const { return m_resolvesFunctionsAsVariables; }
    void setResolvesFunctionsAsVariables(bool resolves) { m_resolvesFunctionsAsVariables = resolves; }
    const std::shared_ptr<QVMathOperatorSet>& operatorSet() const { return m_operatorSet; }
    void setOperatorSet(std::shared_ptr<QVMathOperatorSet> set) { m_operatorSet = std::move(set); }
    // 0 radians, 1 degrees; only stored here.
    int64_t angleMeasurementMode() const { return m_angleMeasurementMode; }
    void setAngleMeasurementMode(int64_t mode) { m_angleMeasurementMode = mode; }
    const QVFunctionResolver& functionResolver() const { return m_functionResolver; }
    void setFunctionResolver(QVFunctionResolver resolver) { m_functionResolver = std::move(resolver); }
    const QVVariableResolver& variableResolver() const { return m_variableResolver; }
    void setVariableResolver(QVVariableResolver resolver) { m_variableResolver = std::move(resolver); }

    // Refused for a standard function's name or a name already taken.
    bool registerFunction(QVFunctionBlock function, const QString& name);
    void unregisterFunctionWithName(const QString& name);
    // Refused like registerFunction; the target need not exist yet.
    bool addAlias(const QString& alias, const QString& functionName);
    void removeAlias(const QString& alias) { unregisterFunctionWithName(alias); }
    // Standard functions, registered functions and aliases, sorted.
    QStringList registeredFunctions() const;

    // A function that is no built-in: registered, an alias, a substitution
    // (when functions resolve as variables) or the resolver's.
    QVariant resolveFunction(const QVExpression& function, const QVSubstitutions& variables, Error* error);
    QVariant variableWithName(const QString& name) const;

    std::optional<Number> evaluateString(const QString& text, const QVSubstitutions& substitutions, Error* error);
    // Failures are written to the console log.
    std::optional<Number> evaluateString(const QString& text, const QVSubstitutions& substitutions = {});
    std::optional<Number> evaluateExpression(const QVExpression& expression, const QVSubstitutions& substitutions,
                                             Error* error);

    // The shared rewriter's result, this evaluator folding constants and
    // judging the rules' conditions.
    QVExpressionPtr expressionByRewritingExpression(const QVExpressionPtr& expression);
    // To the shared rewriter, so every evaluator rewrites with it.
    static void addRewriteRule(const QString& rule, const QString& templateText, const QString& condition = QString());

private:
    std::optional<Number> evaluateVariable(const QVExpression& expression, const QVSubstitutions& substitutions,
                                           Error* error);
    std::optional<Number> evaluateFunction(const QVExpression& expression, const QVSubstitutions& substitutions,
                                           Error* error);
    std::optional<Number> evaluateValue(const QVariant& value, const QVSubstitutions& substitutions, Error* error);
    bool isNameFree(const QString& name) const;

    QHash<QString, QVFunctionBlock> m_functionMap;
    std::unique_ptr<QVFunctionEvaluator> m_functionEvaluator;
    bool m_usesHighPrecisionEvaluation = false;
    bool m_resolvesFunctionsAsVariables = false;
    std::shared_ptr<QVMathOperatorSet> m_operatorSet;
    int64_t m_angleMeasurementMode = 0;
    QVFunctionResolver m_functionResolver;
    QVVariableResolver m_variableResolver;
    int m_nestedEvaluations = 0;
    int m_nestedFunctions = 0;
};

// Strings evaluated by the default evaluator.
namespace QVMathParsing {
std::optional<Number> numberByEvaluatingString(const QString& text, const QVSubstitutions& substitutions,
                                               Error* error);
// Failures are written to the console log.
std::optional<Number> numberByEvaluatingString(const QString& text, const QVSubstitutions& substitutions = {});
} // namespace QVMathParsing
