#pragma once

#include "QVExpression.h"

#include <QHash>
#include <QList>
#include <QString>

#include <memory>

class QVMathEvaluator;

// A template, a replacement and an optional condition, each in the expression
// language. In the template a call without arguments of a name beginning
// "__exp" matches any sub-tree, "__num" a number, "__var" a variable and
// "__func" a function call; a placeholder met again must meet an equal tree.
class QVRewriteRule {
public:
    // Null, with "error creating rule: …" on the console log, when a string
    // does not parse or the template is no function call. A null condition
    // means none; one that does not parse refuses the rule, since dropping it
    // would apply the rule where it must not.
    static std::shared_ptr<const QVRewriteRule> rewriteRuleWithTemplate(const QString& templateText,
                                                                        const QString& replacement,
                                                                        const QString& condition = QString());

    // Whether the rule applies to the root: the template matches and the
    // condition, when there is one, evaluates to true with the evaluator.
    bool ruleMatchesExpression(const QVExpressionPtr& expression, QVMathEvaluator& evaluator) const;
    // The replacement when the rule applies to the root, else the expression itself.
    QVExpressionPtr expressionByRewritingExpression(const QVExpressionPtr& expression,
                                                    QVMathEvaluator& evaluator) const;
    QString description() const;

private:
    using Bindings = QHash<QString, QVExpressionPtr>;
    QVRewriteRule() = default;
    bool matchExpression(const QVExpressionPtr& expression, Bindings& bindings, QVMathEvaluator& evaluator) const;
    static bool matches(const QVExpressionPtr& rule, const QVExpressionPtr& expression, Bindings& bindings);
    static QVExpressionPtr applyingReplacements(const Bindings& bindings, const QVExpressionPtr& pattern);

    QVExpressionPtr m_predicate;
    QVExpressionPtr m_pattern;
    QVExpressionPtr m_condition;
};

// Folds constants and applies its rules, in the order they were added, pass
// after pass until a pass changes nothing (at most 256 changing passes).
// Trees are never changed; sub-trees are reused in the results.
class QVExpressionRewriter {
public:
    static constexpr int maximumPasses = 256;

    // Made on first use, with the built-in rules; no lock guards its rule list.
    static QVExpressionRewriter& defaultRewriter();

    QVExpressionRewriter(); // with the built-in rules
    // Note the order: the replacement first. A rule that cannot be made is not added.
    void addRewriteRule(const QString& replacement, const QString& templateText,
                        const QString& condition = QString());
    qsizetype ruleCount() const { return m_rewriteRules.size(); }
    QVExpressionPtr expressionByRewritingExpression(const QVExpressionPtr& expression, QVMathEvaluator& evaluator) const;

private:
    static QVExpressionPtr rewriteExpression(const QVExpressionPtr& expression, const QVRewriteRule& rule,
                                             QVMathEvaluator& evaluator);

    QList<std::shared_ptr<const QVRewriteRule>> m_rewriteRules;
};
