// The rewriter: the built-in rules, conditions judged by the evaluator,
// refused rules, the pass limit, and trees never changed in place.
#include "QVExpressionRewriter.h"
#include "QVMathEvaluator.h"

#include <gtest/gtest.h>

#include <array>

namespace {

QVExpressionPtr parsed(const char* text) { return QVExpression::expressionFromString(QString::fromUtf8(text)); }

QString rewritten(const QVExpressionRewriter& rewriter, QVMathEvaluator& evaluator, const char* text)
{
    return rewriter.expressionByRewritingExpression(parsed(text), evaluator)->description();
}

} // namespace

TEST(MathRewriter, BuiltInRules)
{
    const std::pair<const char*, const char*> cases[] = {
        {"$x + 0", "$x"}, {"0 + $x", "$x"}, {"0 * $x", "0"}, {"$x * 0", "0"}, {"$x - $x", "0"},
        {"$x + $x", "multiply($x,2)"}, {"2 * $x", "multiply($x,2)"}, {"$x * 2", "multiply($x,2)"},
        {"$x - $y", "subtract($x,$y)"}, {"$x / $x", "divide($x,$x)"}, {"sqrt($x ** 2)", "abs($x)"},
        {"$x * (2 - 2)", "0"}, {"--$x", "$x"}, {"abs(-$x)", "abs($x)"}, {"exp($x) * exp($y)", "exp(add($x,$y))"},
        {"$x * $x", "pow($x,2)"}, {"($x * $y) / $y", "divide(multiply($x,$y),$y)"},
        {"dtor(rtod($x + 0))", "$x"}, {"$x ** (3 - 3)", "1"}, {"1 + 2 * 3", "7"},
    };
    QVExpressionRewriter rewriter;
    QVMathEvaluator evaluator;
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(rewritten(rewriter, evaluator, text), QString::fromUtf8(expected)) << text;
}

TEST(MathRewriter, ConditionsAskTheEvaluator)
{
    QVExpressionRewriter rewriter;
    QVMathEvaluator evaluator;
    evaluator.setVariableResolver([](const QString& name) {
        return name == QLatin1String("x") ? QVariant::fromValue(Number(int64_t(3)))
               : name == QLatin1String("z") ? QVariant::fromValue(Number(int64_t(0))) : QVariant();
    });
    const std::pair<const char*, const char*> cases[] = {
        {"$x / $x", "1"}, {"$z / $z", "divide($z,$z)"}, {"sqrt($x ** 2)", "$x"}, {"($y * $x) / $x", "$y"},
        {"$x / ($x * $y)", "divide(1,$y)"}, {"nthroot(pow($y, 2), 2)", "abs($y)"},
        {"nthroot(pow($y, 3), 3)", "$y"}, {"abs(negate($x))", "$x"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(rewritten(rewriter, evaluator, text), QString::fromUtf8(expected)) << text;
}

TEST(MathRewriter, RewritingLeavesTheGivenTreeAlone)
{
    QVExpressionRewriter rewriter;
    QVMathEvaluator evaluator;
    const QVExpressionPtr tree = parsed("($x + 0) * 1 + ($y - $y)");
    const QVExpressionPtr copy = tree->copy();
    EXPECT_EQ(rewriter.expressionByRewritingExpression(tree, evaluator)->description(), QStringLiteral("$x"));
    EXPECT_EQ(*tree, *copy);
}

// Rewriting folds constant parts by evaluating them, and percent reads its
// context from the tree: parts the rewrite shares between trees once sent it
// round in a circle until the stack ran out.
TEST(MathRewriter, PercentInSharedPartsEnds)
{
    QVMathEvaluator evaluator;
    for (const char* text : {"50 + percent(0wwwwwww9)+ percent(0wwwwwww9)>>(09)6",
                             "50 + percent(10) + percent(10) >> 2", "(1 + percent(5)) + percent(5) + percent(5)"}) {
        SCOPED_TRACE(text);
        const QVExpressionPtr tree = parsed(text);
        ASSERT_NE(tree, nullptr);
        EXPECT_NE(evaluator.expressionByRewritingExpression(tree), nullptr);
    }
}

TEST(MathRewriter, RefusedRulesAreLoggedAndNotAdded)
{
    // Templates that are no call or do not parse, a replacement or condition that does not parse.
    const std::array<const char*, 3> cases[] = {
        {"1", "5", nullptr}, {"1", "$x", nullptr}, {"1", "__exp1 +", nullptr},
        {"(", "__exp1 + 1", nullptr}, {"1", "__exp1 / __exp1", "__exp1 !="},
    };
    QVExpressionRewriter rewriter;
    const qsizetype rules = rewriter.ruleCount();
    EXPECT_EQ(rules, 27);
    for (const auto& [replacement, templateText, condition] : cases) {
        testing::internal::CaptureStderr();
        rewriter.addRewriteRule(QString::fromUtf8(replacement), QString::fromUtf8(templateText),
                                condition ? QString::fromUtf8(condition) : QString());
        EXPECT_NE(testing::internal::GetCapturedStderr().find("error creating rule: "), std::string::npos);
        EXPECT_EQ(rewriter.ruleCount(), rules) << templateText;
    }
    QVMathEvaluator evaluator;
    EXPECT_EQ(rewritten(rewriter, evaluator, "$x / $x"), QStringLiteral("divide($x,$x)"));
}

TEST(MathRewriter, EndlessRulesStopAtThePassLimit)
{
    QVExpressionRewriter rewriter;
    rewriter.addRewriteRule(QStringLiteral("__exp2 + __exp1"), QStringLiteral("__exp1 + __exp2"));
    QVMathEvaluator evaluator;
    testing::internal::CaptureStderr();
    // 255 swaps are kept; the 256th pass's swap is left out.
    EXPECT_EQ(rewritten(rewriter, evaluator, "$x + $y"), QStringLiteral("add($y,$x)"));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("ABORT: replacement limit reached"), std::string::npos);
}

TEST(MathRewriter, PlaceholdersOfEachKind)
{
    QVExpressionRewriter rewriter;
    rewriter.addRewriteRule(QStringLiteral("1"), QStringLiteral("frob(__num1, __var1, __func1, __exp1)"));
    rewriter.addRewriteRule(QStringLiteral("__missing"), QStringLiteral("blip(__exp1)"));
    QVMathEvaluator evaluator;
    EXPECT_EQ(rewritten(rewriter, evaluator, "frob(1, $v, f($v), $w)"), QStringLiteral("1"));
    EXPECT_EQ(rewritten(rewriter, evaluator, "frob($v, $v, f($v), $w)"),
              QStringLiteral("frob($v,$v,f($v),$w)"));
    EXPECT_EQ(rewritten(rewriter, evaluator, "frob(1, 2, f($v), $w)"), QStringLiteral("frob(1,2,f($v),$w)"));
    EXPECT_EQ(rewritten(rewriter, evaluator, "frob(1, $v, $f, $w)"), QStringLiteral("frob(1,$v,$f,$w)"));
    EXPECT_EQ(rewritten(rewriter, evaluator, "blip($v)"), QStringLiteral("__missing()"));

    QVMathEvaluator::addRewriteRule(QStringLiteral("__exp1"), QStringLiteral("unwrapfortest(__exp1)"));
    EXPECT_EQ(evaluator.expressionByRewritingExpression(parsed("unwrapfortest($q)"))->description(),
              QStringLiteral("$q"));
}
