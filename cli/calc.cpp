// calc FILE: runs one calculator pass over a UTF-8 note and prints it with
// every result written behind its "=>". A file that cannot be read or is not
// UTF-8 prints the reason and exits with status 1.
#include "Calculator/Calculator.h"
#include "Calculator/CalculatorResultWriter.h"
#include "files/TextDecoding.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

namespace {

int failure(const QString& path, const QString& reason)
{
    std::fprintf(stderr, "calc: %s: %s\n", qUtf8Printable(path), qUtf8Printable(reason));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 2) {
        std::fputs("usage: calc FILE\n", stderr);
        return 2;
    }
    const QString path = arguments[1];
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failure(path, file.errorString());
    QString text;
    Error error;
    if (!TextDecoding::decodeAs(file.readAll(), TextDecoding::Encoding::UTF8, &text, &error))
        return failure(path, error.localizedDescription());
    Calculator calculator;
    const auto delegate = std::make_shared<CalculatorResultWriter>();
    calculator.setDelegate(delegate);
    calculator.parseText(text, {0, text.size()});
    const QByteArray output = delegate->applied(text).toUtf8();
    std::fwrite(output.constData(), 1, size_t(output.size()), stdout);
    return 0;
}
