#include "TextScans.h"

#include <algorithm>

namespace TextScans {

QString joinedLineBreaks(const QString& text)
{
    if (!text.contains(QLatin1Char('\n')) || !QStringView(text).isValidUtf16())
        return text.isEmpty() ? QString() : text;
    QString result(text.size(), Qt::Uninitialized);
    QChar* const begin = result.data();
    QChar* out = begin;
    const QChar* const end = text.constData() + text.size();
    for (const QChar* p = text.constData(); p < end;) {
        if (!isExpressionSpace(p->unicode())) {
            *out++ = *p++;
            continue;
        }
        const QChar* const run = std::find_if_not(p, end, [](QChar c) { return isExpressionSpace(c.unicode()); });
        if (std::find(p, run, QLatin1Char('\n')) != run)
            *out++ = QLatin1Char('\n');
        else
            out = std::copy(p, run, out);
        p = run;
    }
    result.truncate(out - begin);
    return result;
}

qsizetype sentenceEnd(QStringView line)
{
    if (!line.isValidUtf16())
        return -1;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const bool mark = line[i] == QLatin1Char('.') || line[i] == QLatin1Char('?');
        if (mark && (i + 1 == line.size() || isExpressionSpace(line[i + 1].unicode())))
            return i;
    }
    return -1;
}

} // namespace TextScans
