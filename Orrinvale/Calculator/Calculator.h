#pragma once

#include "Error.h"
#include "decimal/Number.h"
#include "text/TextRange.h"

#include <QHash>
#include <QRegularExpression>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class Calculator;

// Receives the results of Calculator::parseText: the value and the range of
// the handed-in text that is to be replaced by it.
class CalculatorDelegate {
public:
    virtual ~CalculatorDelegate() = default;
    virtual void calculatorReplaceTextWithNumber(Calculator& calculator, const Number& value, TextRange range) = 0;
};

// The in-note calculator: evaluates the lines that carry "=>" (and the signed
// and assignment lines) from the start of a text to just past a range, with
// variables and subtotals per indentation level. It never edits the text:
// every result goes to a block or the delegate with a range of that text.
class Calculator {
public:
    using ResultBlock = std::function<void(const Number& value, TextRange range)>;

    Calculator();

    std::shared_ptr<CalculatorDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<CalculatorDelegate>& delegate) { m_delegate = delegate; }
    const QString& string() const { return m_string; }
    void setString(const QString& string) { m_string = string; }
    const QHash<QString, Number>& variables() const { return m_variables; }
    // Indentation width to the running subtotal of that level.
    const QHash<qsizetype, double>& indentValues() const { return m_indentValues; }

    // One pass; false when no pass ran: no "=>", the first one after the
    // range, or no block.
    bool parseText(const QString& text, TextRange range);
    bool parseText(const QString& text, TextRange range, const ResultBlock& block);
    bool parseRange(TextRange range, const ResultBlock& block);

    std::optional<Number> calculateMathExpression(const QString& expression, Error* error);
    // The locale's separators, at most three fraction digits rounded half-up,
    // ASCII digits and "-", so that the marker pattern finds it again.
    static QString stringFromNumber(const Number& number);

private:
    struct Pass;
    struct Line;
    void parseParagraph(TextRange paragraph, Pass& pass, const ResultBlock& block);
    void treatLine(Line& line, Pass& pass, const ResultBlock& block);
    bool evaluateLine(const QString& expression, Pass& pass, Number& value);
    void addToSubtotals(qsizetype width, double amount);

    std::weak_ptr<CalculatorDelegate> m_delegate;
    QString m_string;
    QHash<QString, Number> m_variables;
    QHash<qsizetype, double> m_indentValues;
    QRegularExpression m_horizonRuleExpression;
    QRegularExpression m_indentExpression;
    QRegularExpression m_variableExpression;
    QRegularExpression m_printValueExpression;
    QRegularExpression m_tokenizerExpression;
};
