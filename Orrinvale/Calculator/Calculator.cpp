#include "Calculator.h"

#include "Log.h"
#include "QVMathEvaluator.h"
#include "files/UnicodeRegex.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {

const QString marker = QStringLiteral("=>");

// Shortest round-trip digits without exponent or locale: what a variable
// stands for in an expression, and where stringFromNumber starts from.
QString plainText(double value) { return QString::number(value, 'f', QLocale::FloatingPointShortest); }

// Adds one to the last digit of an ASCII digit string, carrying leftwards.
QString incremented(QString digits)
{
    for (qsizetype i = digits.size() - 1; i >= 0; --i) {
        if (digits[i] != u'9') {
            digits[i] = QChar(digits[i].unicode() + 1);
            return digits;
        }
        digits[i] = u'0';
    }
    return QStringLiteral("1") + digits;
}

QString grouped(const QString& digits, const QString& separator)
{
    QString text;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += separator;
        text += digits[i];
    }
    return text;
}

// A blank between groups would end the value behind the marker.
QString groupSeparator(const QLocale& locale)
{
    const QString separator = locale.groupSeparator();
    const bool blank = std::any_of(separator.begin(), separator.end(), [](QChar c) { return c.isSpace(); });
    return blank ? QString(QChar(0x202F)) : separator;
}

Error notFinite()
{
    return Error::make(QStringLiteral("net.brindlewick.notes.calculator"), 1, QStringLiteral("not a finite number"));
}

// Where the paragraph's terminator (LF, CR, CR LF or U+2029) begins.
qsizetype contentEnd(const QString& line)
{
    if (line.endsWith(QStringLiteral("\r\n")))
        return line.size() - 2;
    if (!line.isEmpty() && (line.back() == u'\n' || line.back() == u'\r' || line.back() == QChar(0x2029)))
        return line.size() - 1;
    return line.size();
}

QString slice(const QString& text, qsizetype from, qsizetype to) { return text.mid(from, to - from); }

} // namespace

struct Calculator::Pass {
    double lastValue = 0;
    bool resultSeen = false;
};

struct Calculator::Line {
    qsizetype width = 0; // indentation
    int sign = 0;
    std::optional<TextRange> resultRange;
    QString name; // null: no assignment
    QString expression;
};

Calculator::Calculator()
    : m_horizonRuleExpression(UnicodeRegex::expression(QStringLiteral(R"(^\s*[\-\=\*][\-\=\*\s]+[\-\=\*]\s*$)"),
                                                       UnicodeRegex::AnchorsMatchLines))
    , m_indentExpression(UnicodeRegex::expression(QStringLiteral(R"(^\s+)"), UnicodeRegex::AnchorsMatchLines))
    , m_variableExpression(UnicodeRegex::expression(QStringLiteral(R"(([^\=\s]+)\s*\=)")))
    , m_printValueExpression(
          UnicodeRegex::expression(QStringLiteral(R"(\s*\=\>[ \t]*(\d[^ \n\r]*|\+[ \t]*[^ \n\r]+|\-[ \t]*[^ \n\r]+|))")))
    , m_tokenizerExpression(UnicodeRegex::expression(QStringLiteral(R"([a-zA-Z\_][a-zA-Z0-9_]*)")))
{
}

bool Calculator::parseText(const QString& text, TextRange range)
{
    return parseText(text, range, [this](const Number& value, TextRange replaced) {
        if (const auto receiver = m_delegate.lock())
            receiver->calculatorReplaceTextWithNumber(*this, value, replaced);
    });
}

bool Calculator::parseText(const QString& text, TextRange range, const ResultBlock& block)
{
    m_string = text;
    return parseRange(range, block);
}

bool Calculator::parseRange(TextRange range, const ResultBlock& block)
{
    const qsizetype first = m_string.indexOf(marker);
    if (!block || first < 0 || first > range.end())
        return false;
    m_indentValues.clear();
    m_variables.clear();
    Pass pass;
    const qsizetype windowEnd = std::min(m_string.size(), range.end() + 2);
    qsizetype position = 0;
    do {
        const TextRange paragraph = paragraphRangeForRange(m_string, {position, 0});
        position = std::max(position + 1, paragraph.end());
        parseParagraph(paragraph, pass, block);
    } while (position < windowEnd);
    return true;
}

// Positions below are offsets into the paragraph's own text: matched alone, so
// that no pattern runs across lines.
void Calculator::parseParagraph(TextRange paragraph, Pass& pass, const ResultBlock& block)
{
    const QString text = m_string.mid(paragraph.location, paragraph.length);
    if (m_horizonRuleExpression.match(text).hasMatch())
        return;
    Line line;
    const auto indent = m_indentExpression.match(text);
    line.width = indent.hasMatch() ? indent.capturedEnd() : 0;
    qsizetype start = line.width;
    if (start < text.size() && (text[start] == u'-' || text[start] == u'+'))
        line.sign = text[start++] == u'-' ? -1 : 1;
    start = std::max(start, text.lastIndexOf(u':') + 1);
    const qsizetype comment = text.indexOf(QStringLiteral("//"), start);
    qsizetype end = comment >= 0 ? comment : text.size();
    if (end - start <= 1) {
        m_indentValues.clear();
        return;
    }
    // The terminator is no part of a value behind the marker.
    const auto print = m_printValueExpression.match(slice(text, start, std::min(end, contentEnd(text))));
    if (print.hasMatch()) {
        line.resultRange = TextRange{paragraph.location + start + print.capturedStart(1), print.capturedLength(1)};
        end = start + print.capturedStart(0);
    }
    const auto assignment = m_variableExpression.match(slice(text, start, end));
    if (assignment.hasMatch()) {
        line.name = assignment.captured(1);
        start += assignment.capturedEnd(0);
    } else if (line.sign == 0 && !line.resultRange) {
        pass.lastValue = 0;
        return;
    }
    line.expression = slice(text, start, end);
    treatLine(line, pass, block);
}

void Calculator::treatLine(Line& line, Pass& pass, const ResultBlock& block)
{
    Number value;
    bool failed = false;
    if (line.expression.isEmpty() && line.name.isNull()) {
        const auto subtotal = m_indentValues.constFind(line.width);
        if (subtotal != m_indentValues.constEnd())
            pass.lastValue = *subtotal;
        value = Number(pass.lastValue);
        line.sign = 0; // a subtotal line adds to no subtotal
    } else {
        failed = !evaluateLine(line.expression, pass, value);
    }
    if (!line.name.isNull())
        m_variables.insert(line.name, value);
    if (!failed && line.resultRange && pass.resultSeen)
        block(value, *line.resultRange);
    if (line.sign != 0)
        addToSubtotals(line.width, line.sign * pass.lastValue);
}

bool Calculator::evaluateLine(const QString& expression, Pass& pass, Number& value)
{
    if (!expression.isEmpty())
        pass.resultSeen = true;
    Error error;
    const auto result = calculateMathExpression(expression, &error);
    if (!result) {
        value = Number(0.0);
        pass.lastValue = 0;
        LogError("calculator:error [%1] %2", expression, error.description());
        return false;
    }
    value = *result;
    pass.lastValue = result->toDouble();
    return true;
}

// Deeper groups close; shallower open ones and the line's own take the amount.
void Calculator::addToSubtotals(qsizetype width, double amount)
{
    for (auto it = m_indentValues.begin(); it != m_indentValues.end();) {
        if (it.key() > width) {
            it = m_indentValues.erase(it);
            continue;
        }
        if (it.key() < width)
            it.value() += amount;
        ++it;
    }
    m_indentValues[width] += amount;
}

std::optional<Number> Calculator::calculateMathExpression(const QString& expression, Error* error)
{
    QString text = expression;
    text.remove(u',');
    QList<QRegularExpressionMatch> identifiers;
    for (auto it = m_tokenizerExpression.globalMatch(text); it.hasNext();)
        identifiers.append(it.next());
    for (auto it = identifiers.crbegin(); it != identifiers.crend(); ++it) {
        const QString identifier = it->captured(0);
        const auto variable = m_variables.constFind(identifier);
        QString replacement = QStringLiteral(" ");
        if (variable != m_variables.constEnd())
            replacement = plainText(variable->toDouble());
        else if (identifier == u"x")
            replacement = QStringLiteral("*");
        text.replace(it->capturedStart(0), it->capturedLength(0), replacement);
    }
    auto result = QVMathParsing::numberByEvaluatingString(text, {}, error);
    if (result && !std::isfinite(result->toDouble())) {
        setError(error, notFinite());
        return std::nullopt;
    }
    return result;
}

QString Calculator::stringFromNumber(const Number& number)
{
    const double value = number.toDouble();
    const QString plain = plainText(std::fabs(value));
    const qsizetype point = plain.indexOf(u'.');
    QString whole = point < 0 ? plain : plain.left(point);
    QString fraction = point < 0 ? QString() : plain.mid(point + 1);
    if (fraction.size() > 3) {
        const bool up = fraction[3] >= u'5';
        fraction.truncate(3);
        if (up) {
            const QString digits = incremented(whole + fraction);
            whole = digits.left(digits.size() - 3);
            fraction = digits.right(3);
        }
    }
    while (fraction.endsWith(u'0'))
        fraction.chop(1);
    const QLocale locale;
    QString text = grouped(whole, groupSeparator(locale));
    if (!fraction.isEmpty())
        text += locale.decimalPoint() + fraction;
    const bool zero = whole == u"0" && fraction.isEmpty();
    return value < 0 && !zero ? QStringLiteral("-") + text : text;
}
