// mathcli --tokens EXPR: prints the tokens of a math expression, one debug
// text a line, or the error that refuses it.
#include "QVMathStringTokenizer.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

static int usage()
{
    std::fputs("usage: mathcli --tokens EXPRESSION\n", stderr);
    return 2;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3 || arguments.at(1) != QLatin1String("--tokens"))
        return usage();
    Error error;
    const auto tokenizer = QVMathStringTokenizer::tokenizerWithString(arguments.at(2), nullptr, &error);
    if (!tokenizer) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(error.description()));
        return 1;
    }
    for (const QVMathStringToken& token : tokenizer->allObjects())
        std::printf("%s\n", qUtf8Printable(token.debugDescription()));
    return 0;
}
