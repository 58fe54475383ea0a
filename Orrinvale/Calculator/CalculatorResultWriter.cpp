#include "CalculatorResultWriter.h"

void CalculatorResultWriter::calculatorReplaceTextWithNumber(Calculator&, const Number& value, TextRange range)
{
    m_results.append({range, Calculator::stringFromNumber(value)});
}

QString CalculatorResultWriter::applied(const QString& text) const
{
    qsizetype size = text.size();
    for (const auto& [range, value] : m_results)
        size += value.size() - range.length;
    QString written;
    written.reserve(size);
    qsizetype copied = 0;
    for (const auto& [range, value] : m_results) {
        written.append(QStringView(text).sliced(copied, range.location - copied));
        written.append(value);
        copied = range.end();
    }
    written.append(QStringView(text).sliced(copied));
    return written;
}
