// mathcli EXPR: prints the value of a math expression; --tree prints the
// parsed tree, --tokens the tokens, one debug text a line. A refused
// expression prints its error's code and text and exits with status 1.
#include "QVExpression.h"
#include "QVMathEvaluator.h"
#include "QVMathStringTokenizer.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

static int usage()
{
    std::fputs("usage: mathcli [--tree | --tokens] EXPRESSION\n", stderr);
    return 2;
}

static int failure(const Error& error)
{
    std::fprintf(stderr, "error %d: %s\n", error.code, qUtf8Printable(error.localizedDescription()));
    return 1;
}

static int printTokens(const QString& text)
{
    Error error;
    const auto tokenizer = QVMathStringTokenizer::tokenizerWithString(text, nullptr, &error);
    if (!tokenizer)
        return failure(error);
    for (const QVMathStringToken& token : tokenizer->allObjects())
        std::printf("%s\n", qUtf8Printable(token.debugDescription()));
    return 0;
}

static int printTree(const QString& text)
{
    Error error;
    const QVExpressionPtr expression = QVExpression::expressionFromString(text, &error);
    if (!expression)
        return failure(error);
    std::printf("%s\n", qUtf8Printable(expression->description()));
    return 0;
}

static int printValue(const QString& text)
{
    Error error;
    const auto value = QVMathParsing::numberByEvaluatingString(text, {}, &error);
    if (!value)
        return failure(error);
    std::printf("%s\n", value->description().c_str());
    return 0;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 2)
        return printValue(arguments.at(1));
    if (arguments.size() != 3)
        return usage();
    if (arguments.at(1) == QLatin1String("--tokens"))
        return printTokens(arguments.at(2));
    if (arguments.at(1) == QLatin1String("--tree"))
        return printTree(arguments.at(2));
    return usage();
}
