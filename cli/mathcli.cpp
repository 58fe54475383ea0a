// mathcli [OPTIONS] EXPR: prints the value of a math expression; --tree prints
// the parsed tree, --tokens the tokens, one debug text a line, --rewrite the
// rewritten tree. --degrees reads and gives angles in degrees, --precise
// computes in decimals, --percent reads "%" as percent rather than modulo.
// A refused expression prints its error's code and text and exits with status 1.
#include "QVExpression.h"
#include "QVMathEvaluator.h"
#include "QVMathStringTokenizer.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

int usage()
{
    std::fputs("usage: mathcli [--degrees] [--precise] [--percent] [--tree | --tokens | --rewrite] EXPRESSION\n",
               stderr);
    return 2;
}

int failure(const Error& error)
{
    std::fprintf(stderr, "error %d: %s\n", error.code, qUtf8Printable(error.localizedDescription()));
    return 1;
}

int printTokens(QVMathEvaluator& evaluator, const QString& text)
{
    Error error;
    const auto tokenizer = QVMathStringTokenizer::tokenizerWithString(text, evaluator.operatorSet(), &error);
    if (!tokenizer)
        return failure(error);
    for (const QVMathStringToken& token : tokenizer->allObjects())
        std::printf("%s\n", qUtf8Printable(token.debugDescription()));
    return 0;
}

int printTree(QVMathEvaluator& evaluator, const QString& text, bool rewrite)
{
    Error error;
    QVExpressionPtr expression = QVExpression::expressionFromString(text, &error);
    if (!expression)
        return failure(error);
    if (rewrite)
        expression = evaluator.expressionByRewritingExpression(expression);
    std::printf("%s\n", qUtf8Printable(expression->description()));
    return 0;
}

int printValue(QVMathEvaluator& evaluator, const QString& text)
{
    Error error;
    const auto value = evaluator.evaluateString(text, {}, &error);
    if (!value)
        return failure(error);
    std::printf("%s\n", value->description().c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty())
        return usage();
    const QString text = arguments.takeLast();
    QVMathEvaluator& evaluator = QVMathEvaluator::defaultMathEvaluator();
    QString mode;
    for (const QString& option : arguments) {
        if (option == QLatin1String("--degrees"))
            evaluator.setAngleMeasurementMode(1);
        else if (option == QLatin1String("--precise"))
            evaluator.setUsesHighPrecisionEvaluation(true);
        else if (option == QLatin1String("--percent"))
            evaluator.operatorSet()->setInterpretsPercentSignAsModulo(false);
        else if (mode.isEmpty() && (option == QLatin1String("--tree") || option == QLatin1String("--tokens")
                                    || option == QLatin1String("--rewrite")))
            mode = option;
        else
            return usage();
    }
    if (mode == QLatin1String("--tokens"))
        return printTokens(evaluator, text);
    if (!mode.isEmpty())
        return printTree(evaluator, text, mode == QLatin1String("--rewrite"));
    return printValue(evaluator, text);
}
