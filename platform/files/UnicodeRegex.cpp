#include "UnicodeRegex.h"

namespace UnicodeRegex {

QRegularExpression expression(const QString& pattern, unsigned options)
{
    QRegularExpression::PatternOptions qtOptions = QRegularExpression::UseUnicodePropertiesOption;
    if (options & CaseInsensitive)
        qtOptions |= QRegularExpression::CaseInsensitiveOption;
    if (options & AllowCommentsAndWhitespace)
        qtOptions |= QRegularExpression::ExtendedPatternSyntaxOption;
    if (options & DotMatchesLineSeparators)
        qtOptions |= QRegularExpression::DotMatchesEverythingOption;
    if (options & AnchorsMatchLines)
        qtOptions |= QRegularExpression::MultilineOption;
    const QString body = (options & IgnoreMetacharacters) ? QRegularExpression::escape(pattern) : pattern;
    // The line terminators that "^", "$" and "." respect.
    const QString lines = (options & UseUnixLineSeparators) ? QStringLiteral("(*LF)") : QStringLiteral("(*ANY)");
    return QRegularExpression(lines + body, qtOptions);
}

QString replace(const QString& text, const QRegularExpression& expression, const QString& templ)
{
    const int groups = expression.captureCount();
    QString result;
    qsizetype copied = 0;
    auto matches = expression.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        result += QStringView(text).mid(copied, match.capturedStart() - copied);
        for (qsizetype i = 0; i < templ.size(); ++i) {
            const QChar c = templ[i];
            if (c == QLatin1Char('\\') && i + 1 < templ.size()) {
                result += templ[++i];
            } else if (c == QLatin1Char('$') && i + 1 < templ.size() && templ[i + 1].isDigit()) {
                // As many digits as still name a group; the first always counts.
                int group = templ[++i].digitValue();
                while (i + 1 < templ.size() && templ[i + 1].isDigit() && group * 10 + templ[i + 1].digitValue() <= groups)
                    group = group * 10 + templ[++i].digitValue();
                if (group <= groups)
                    result += match.capturedView(group);
            } else {
                result += c;
            }
        }
        copied = match.capturedEnd();
    }
    result += QStringView(text).mid(copied);
    return result;
}

} // namespace UnicodeRegex
