// The evaluator's registry, aliases, substitutions, resolvers and error
// precedence, and the bound on substitutions and aliases that lead back to
// themselves.
#include "QVFunctionEvaluator.h"
#include "QVMathError.h"
#include "QVMathEvaluator.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

QVFunctionBlock constant(QVariant value)
{
    return [value](const QList<QVExpressionPtr>&, const QVSubstitutions&, QVMathEvaluator&, Error*) { return value; };
}

struct Outcome {
    std::optional<Number> value;
    Error error;
};

Outcome evaluate(QVMathEvaluator& evaluator, const char* text, const QVSubstitutions& substitutions = {})
{
    Outcome outcome;
    outcome.value = evaluator.evaluateString(QString::fromUtf8(text), substitutions, &outcome.error);
    return outcome;
}

} // namespace

TEST(MathEvaluator, RegistryRefusesTakenNames)
{
    QVMathEvaluator evaluator;
    const auto block = constant(QVariant::fromValue(Number(int64_t(1))));
    EXPECT_FALSE(evaluator.registerFunction(block, QStringLiteral("SIN")));
    EXPECT_FALSE(evaluator.registerFunction(block, QStringLiteral("Avg")));
    EXPECT_TRUE(evaluator.registerFunction(block, QStringLiteral("foo")));
    EXPECT_FALSE(evaluator.registerFunction(block, QStringLiteral("Foo")));
    EXPECT_FALSE(evaluator.addAlias(QStringLiteral("FOO"), QStringLiteral("add")));
    evaluator.unregisterFunctionWithName(QStringLiteral("FOO"));
    EXPECT_TRUE(evaluator.registerFunction(block, QStringLiteral("Foo")));
    EXPECT_EQ(evaluate(evaluator, "FOO()").value, Number(int64_t(1)));

    EXPECT_FALSE(evaluator.addAlias(QStringLiteral("sum"), QStringLiteral("add")));
    EXPECT_TRUE(evaluator.addAlias(QStringLiteral("later"), QStringLiteral("notyet")));
    EXPECT_EQ(evaluate(evaluator, "later(1)").error.code, 15);
    evaluator.removeAlias(QStringLiteral("LATER"));

    const QStringList names = evaluator.registeredFunctions();
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(names.size(), QVFunctionEvaluator::standardFunctions().size() + 14);
    EXPECT_TRUE(names.contains(QStringLiteral("foo")) && names.contains(QStringLiteral("avg")));
    EXPECT_EQ(names.last(), QStringLiteral("\u03D5"));
}

TEST(MathEvaluator, Substitutions)
{
    QVMathEvaluator evaluator;
    const QVSubstitutions chain{{QStringLiteral("a"), QStringLiteral("$b * 2")}, {QStringLiteral("b"), 3}};
    EXPECT_EQ(evaluate(evaluator, "$a + 1", chain).value, Number(7.0));
    const QVSubstitutions tree{{QStringLiteral("a"), QVariant::fromValue(QVExpression::expressionFromString(QStringLiteral("2 + $b")))},
                               {QStringLiteral("b"), QVariant::fromValue(Number(0.5))}};
    EXPECT_EQ(evaluate(evaluator, "$a", tree).value, Number(2.5));

    const Outcome list = evaluate(evaluator, "$a + 1", {{QStringLiteral("a"), QStringList{QStringLiteral("1")}}});
    EXPECT_EQ(list.error.code, 14);
    EXPECT_EQ(list.error.localizedDescription(), QStringLiteral("unable to resolve variable: $a"));
    EXPECT_EQ(list.error.userInfo.value(QVMathError::variableKey()).toString(), QStringLiteral("a"));

    evaluator.setVariableResolver([](const QString& name) { return name == QLatin1String("r") ? QVariant(QStringLiteral("4 * 2")) : QVariant(); });
    EXPECT_EQ(evaluate(evaluator, "$r").value, Number(8.0));
    EXPECT_EQ(evaluate(evaluator, "$r", {{QStringLiteral("r"), 1}}).value, Number(int64_t(1)));
}

TEST(MathEvaluator, FunctionsAsVariablesAndResolvers)
{
    QVMathEvaluator evaluator;
    const QVSubstitutions f{{QStringLiteral("f"), 4}};
    EXPECT_EQ(evaluate(evaluator, "f(1, 2)", f).error.code, 15);
    evaluator.setResolvesFunctionsAsVariables(true);
    EXPECT_EQ(evaluate(evaluator, "f(1, $undefined)", f).value, Number(int64_t(4)));

    int asked = 0;
    evaluator.setFunctionResolver([&asked](const QString& name) {
        ++asked;
        return name == QLatin1String("g") ? constant(QStringLiteral("3 + 3")) : QVFunctionBlock();
    });
    EXPECT_EQ(evaluate(evaluator, "g() + g()").value, Number(12.0));
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(evaluator.registeredFunctions().contains(QStringLiteral("g")));

    evaluator.registerFunction(constant(QVariant()), QStringLiteral("nothing"));
    evaluator.registerFunction(constant(QStringList()), QStringLiteral("list"));
    const Outcome nothing = evaluate(evaluator, "nothing()");
    EXPECT_EQ(nothing.error.code, 15);
    EXPECT_EQ(nothing.error.userInfo.value(QVMathError::functionKey()).toString(), QStringLiteral("nothing"));
    EXPECT_EQ(evaluate(evaluator, "list()").error.localizedDescription(), QStringLiteral("invalid return type from list function"));
}

TEST(MathEvaluator, OwnCodesNeverReplaceAnError)
{
    QVMathEvaluator evaluator;
    evaluator.registerFunction([](const QList<QVExpressionPtr>&, const QVSubstitutions&, QVMathEvaluator&, Error* error) {
        setError(error, Error::make(QStringLiteral("elsewhere"), 99, QStringLiteral("own")));
        return QVariant();
    }, QStringLiteral("fails"));
    const QVSubstitutions broken{{QStringLiteral("a"), QStringLiteral("1 +")}};
    EXPECT_EQ(evaluate(evaluator, "$a", broken).error.code, 10);
    EXPECT_EQ(evaluate(evaluator, "fails()").error.code, 99);
    EXPECT_EQ(evaluate(evaluator, "1 + $missing").error.code, 14);
    EXPECT_EQ(evaluate(evaluator, "sqrt(sum())").error.code, 17);
}

TEST(MathEvaluator, CyclesEndWithAnError)
{
    QVMathEvaluator evaluator;
    EXPECT_EQ(evaluate(evaluator, "$a", {{QStringLiteral("a"), QStringLiteral("$a + 1")}}).error.code, 14);
    EXPECT_EQ(evaluate(evaluator, "$a", {{QStringLiteral("a"), QStringLiteral("$b")}, {QStringLiteral("b"), QStringLiteral("$a")}}).error.code, 14);
    evaluator.addAlias(QStringLiteral("ping"), QStringLiteral("pong"));
    evaluator.addAlias(QStringLiteral("pong"), QStringLiteral("ping"));
    EXPECT_EQ(evaluate(evaluator, "ping(1)").error.code, 15);
    evaluator.setResolvesFunctionsAsVariables(true);
    EXPECT_EQ(evaluate(evaluator, "h()", {{QStringLiteral("h"), QStringLiteral("h()")}}).error.code, 15);
    // The bound counts nesting, not use: the evaluator is whole afterwards.
    EXPECT_EQ(evaluate(evaluator, "$a", {{QStringLiteral("a"), 2}}).value, Number(int64_t(2)));
}

TEST(MathEvaluator, PrecisionSwitchReplacesTheFunctionEvaluatorOnChange)
{
    QVMathEvaluator evaluator;
    const QVFunctionEvaluator* standard = evaluator.functionEvaluator();
    evaluator.setUsesHighPrecisionEvaluation(false);
    EXPECT_EQ(evaluator.functionEvaluator(), standard);
    evaluator.setUsesHighPrecisionEvaluation(true);
    const QVFunctionEvaluator* precise = evaluator.functionEvaluator();
    EXPECT_TRUE(dynamic_cast<const QVPrecisionFunctionEvaluator*>(precise));
    evaluator.setUsesHighPrecisionEvaluation(true);
    EXPECT_EQ(evaluator.functionEvaluator(), precise);
    evaluator.setUsesHighPrecisionEvaluation(false);
    EXPECT_FALSE(dynamic_cast<const QVPrecisionFunctionEvaluator*>(evaluator.functionEvaluator()));
    EXPECT_EQ(evaluator.functionEvaluator()->evaluator(), &evaluator);
}

TEST(MathEvaluator, DefaultEvaluatorServesTheStringFunctions)
{
    Error error;
    EXPECT_EQ(QVMathParsing::numberByEvaluatingString(QStringLiteral("1 - 2 - 3"), {}, &error), Number(-4.0));
    EXPECT_FALSE(QVMathParsing::numberByEvaluatingString(QStringLiteral("1 +")));
}
