#pragma once

#include "Calculator.h"

#include <QList>
#include <QString>

#include <utility>

// A delegate that keeps a pass's results and writes them into the text the
// pass was given: each value in place of its range, the rest unchanged. The
// text is copied once, piece by piece, whatever the number of results.
class CalculatorResultWriter : public CalculatorDelegate {
public:
    void calculatorReplaceTextWithNumber(Calculator& calculator, const Number& value, TextRange range) override;

    // The text with every result written; the ranges are those of this text.
    QString applied(const QString& text) const;

private:
    // In text order, as the pass reports them.
    QList<std::pair<TextRange, QString>> m_results;
};
