#include "QVExpressionRewriter.h"

#include "ConsoleLog.h"
#include "QVMathEvaluator.h"

namespace {

const QString ruleError = QStringLiteral("error creating rule: %1");

bool isPlaceholderFor(const QString& name, const QVExpression& expression)
{
    if (name.startsWith(QLatin1String("__exp")))
        return true;
    if (name.startsWith(QLatin1String("__num")))
        return expression.expressionType() == QVExpressionType::Number;
    if (name.startsWith(QLatin1String("__var")))
        return expression.expressionType() == QVExpressionType::Variable;
    if (name.startsWith(QLatin1String("__func")))
        return expression.expressionType() == QVExpressionType::Function;
    return false;
}

// Null after logging the parse error.
QVExpressionPtr parsed(const QString& text)
{
    Error error;
    QVExpressionPtr expression = QVExpression::expressionFromString(text, &error);
    if (!expression)
        consoleLog(ruleError.arg(error.description()));
    return expression;
}

} // namespace

std::shared_ptr<const QVRewriteRule> QVRewriteRule::rewriteRuleWithTemplate(const QString& templateText,
                                                                            const QString& replacement,
                                                                            const QString& condition)
{
    auto rule = std::shared_ptr<QVRewriteRule>(new QVRewriteRule);
    rule->m_predicate = parsed(templateText);
    rule->m_pattern = rule->m_predicate ? parsed(replacement) : nullptr;
    if (!rule->m_pattern)
        return nullptr;
    if (rule->m_predicate->expressionType() != QVExpressionType::Function) {
        consoleLog(ruleError.arg(QStringLiteral("(null)")));
        return nullptr;
    }
    if (!condition.isNull() && !(rule->m_condition = parsed(condition)))
        return nullptr;
    return rule;
}

bool QVRewriteRule::matches(const QVExpressionPtr& rule, const QVExpressionPtr& expression, Bindings& bindings)
{
    if (rule->expressionType() != QVExpressionType::Function)
        return *rule == *expression;
    const QString& name = rule->function();
    if (rule->arguments().isEmpty() && isPlaceholderFor(name, *expression)) {
        const auto bound = bindings.constFind(name);
        if (bound == bindings.constEnd()) {
            bindings.insert(name, expression);
            return true;
        }
        return **bound == *expression;
    }
    if (expression->expressionType() != QVExpressionType::Function || expression->function() != name
        || expression->arguments().size() != rule->arguments().size())
        return false;
    for (qsizetype i = 0; i < rule->arguments().size(); ++i) {
        if (!matches(rule->arguments().at(i), expression->arguments().at(i), bindings))
            return false;
    }
    return true;
}

QVExpressionPtr QVRewriteRule::applyingReplacements(const Bindings& bindings, const QVExpressionPtr& pattern)
{
    if (pattern->expressionType() != QVExpressionType::Function)
        return pattern;
    if (const auto bound = bindings.constFind(pattern->function()); bound != bindings.constEnd())
        return *bound;
    QList<QVExpressionPtr> arguments;
    for (const QVExpressionPtr& argument : pattern->arguments())
        arguments.append(applyingReplacements(bindings, argument));
    return QVExpression::functionExpressionWithFunction(pattern->function(), arguments);
}

// A condition that cannot be evaluated counts as not met.
bool QVRewriteRule::matchExpression(const QVExpressionPtr& expression, Bindings& bindings,
                                    QVMathEvaluator& evaluator) const
{
    if (!matches(m_predicate, expression, bindings))
        return false;
    if (!m_condition)
        return true;
    QVSubstitutions substitutions;
    for (auto it = bindings.constBegin(); it != bindings.constEnd(); ++it)
        substitutions.insert(it.key(), QVariant::fromValue(it.value()));
    Error dropped;
    const auto truth =
        evaluator.evaluateExpression(*applyingReplacements(bindings, m_condition), substitutions, &dropped);
    return truth && truth->boolValue();
}

bool QVRewriteRule::ruleMatchesExpression(const QVExpressionPtr& expression, QVMathEvaluator& evaluator) const
{
    Bindings bindings;
    return matchExpression(expression, bindings, evaluator);
}

QVExpressionPtr QVRewriteRule::expressionByRewritingExpression(const QVExpressionPtr& expression,
                                                               QVMathEvaluator& evaluator) const
{
    Bindings bindings;
    return matchExpression(expression, bindings, evaluator) ? applyingReplacements(bindings, m_pattern) : expression;
}

QString QVRewriteRule::description() const
{
    return QStringLiteral("QVRewriteRule (%1 => %2)").arg(m_predicate->description(), m_pattern->description());
}

QVExpressionRewriter& QVExpressionRewriter::defaultRewriter()
{
    static QVExpressionRewriter rewriter;
    return rewriter;
}

QVExpressionRewriter::QVExpressionRewriter()
{
    static const char* const rules[][3] = {
        {"0 + __exp1", "__exp1", nullptr},
        {"__exp1 + 0", "__exp1", nullptr},
        {"__exp1 + __exp1", "2 * __exp1", nullptr},
        {"__exp1 - __exp1", "0", nullptr},
        {"1 * __exp1", "__exp1", nullptr},
        {"__exp1 * 1", "__exp1", nullptr},
        {"__exp1 * __exp1", "__exp1 ** 2", nullptr},
        {"__num1 * __var1", "__var1 * __num1", nullptr},
        {"0 * __exp1", "0", nullptr},
        {"__exp1 * 0", "0", nullptr},
        {"--__exp1", "__exp1", nullptr},
        {"abs(-__exp1)", "abs(__exp1)", nullptr},
        {"exp(__exp1) * exp(__exp2)", "exp(__exp1 + __exp2)", nullptr},
        {"(__exp1 ** __exp3) * (__exp2 ** __exp3)", "(__exp1 * __exp2) ** __exp3", nullptr},
        {"__exp1 ** 0", "1", nullptr},
        {"__exp1 ** 1", "__exp1", nullptr},
        {"sqrt(__exp1 ** 2)", "abs(__exp1)", nullptr},
        {"dtor(rtod(__exp1))", "__exp1", nullptr},
        {"rtod(dtor(__exp1))", "__exp1", nullptr},
        {"__exp1 / __exp1", "1", "__exp1 != 0"},
        {"(__exp1 * __exp2) / __exp2", "__exp1", "__exp2 != 0"},
        {"(__exp2 * __exp1) / __exp2", "__exp1", "__exp2 != 0"},
        {"__exp2 / (__exp2 * __exp1)", "1/__exp1", "__exp2 != 0"},
        {"__exp2 / (__exp1 * __exp2)", "1/__exp1", "__exp2 != 0"},
        {"nthroot(pow(__exp1, __exp2), __exp2)", "abs(__exp1)", "__exp2 % 2 == 0"},
        {"nthroot(pow(__exp1, __exp2), __exp2)", "__exp1", "__exp2 % 2 == 1"},
        {"abs(__exp1)", "__exp1", "__exp1 >= 0"},
    };
    for (const auto& [templateText, replacement, condition] : rules)
        addRewriteRule(QString::fromLatin1(replacement), QString::fromLatin1(templateText),
                       condition ? QString::fromLatin1(condition) : QString());
}

void QVExpressionRewriter::addRewriteRule(const QString& replacement, const QString& templateText,
                                          const QString& condition)
{
    if (auto rule = QVRewriteRule::rewriteRuleWithTemplate(templateText, replacement, condition))
        m_rewriteRules.append(std::move(rule));
}

// Top-down; a node the rule replaced is not visited again in this step.
QVExpressionPtr QVExpressionRewriter::rewriteExpression(const QVExpressionPtr& expression, const QVRewriteRule& rule,
                                                        QVMathEvaluator& evaluator)
{
    QVExpressionPtr rewritten = rule.expressionByRewritingExpression(expression, evaluator);
    if (rewritten != expression || expression->expressionType() != QVExpressionType::Function)
        return rewritten;
    QList<QVExpressionPtr> arguments;
    bool changed = false;
    for (const QVExpressionPtr& argument : expression->arguments()) {
        arguments.append(rewriteExpression(argument, rule, evaluator));
        changed = changed || arguments.last() != argument;
    }
    return changed ? QVExpression::functionExpressionWithFunction(expression->function(), arguments) : expression;
}

// The result is the folded tree that began the last pass: after the limit,
// that pass's rewrites are left out.
QVExpressionPtr QVExpressionRewriter::expressionByRewritingExpression(const QVExpressionPtr& expression,
                                                                     QVMathEvaluator& evaluator) const
{
    QVExpressionPtr current = expression;
    QVExpressionPtr start;
    int changingPasses = 0;
    while (current && changingPasses < maximumPasses) {
        Error dropped;
        start = current->simplifiedExpressionWithEvaluator(&evaluator, &dropped);
        current = start;
        bool changed = false;
        for (qsizetype i = 0; current && i < m_rewriteRules.size(); ++i) {
            QVExpressionPtr next = rewriteExpression(current, *m_rewriteRules.at(i), evaluator);
            changed = changed || next != current;
            current = std::move(next);
        }
        if (!changed)
            break;
        ++changingPasses;
    }
    if (changingPasses >= maximumPasses)
        consoleLog(QStringLiteral("ABORT: replacement limit reached"));
    return start;
}
