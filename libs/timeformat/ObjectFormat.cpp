#include "ObjectFormat.h"

namespace {

QString argumentAt(const QStringList& arguments, qsizetype index)
{
    return index >= 0 && index < arguments.size() ? arguments.at(index) : QString();
}

// The length of a "%n$@" directive at `at` and its argument's index, or 0 when there is none.
qsizetype positional(QStringView format, qsizetype at, qsizetype* index)
{
    qsizetype i = at + 1;
    qsizetype n = 0;
    while (i < format.size() && format[i].isDigit() && n < 1'000'000)
        n = n * 10 + format[i++].digitValue();
    if (i == at + 1 || i + 1 >= format.size() || format[i] != u'$' || format[i + 1] != u'@')
        return 0;
    *index = n - 1;
    return i + 2 - at;
}

} // namespace

QString formatWithObjects(QStringView format, const QStringList& arguments)
{
    QString result;
    result.reserve(format.size() + 32);
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QStringView rest = format.mid(i);
        qsizetype index = 0;
        if (rest.startsWith(u"%%")) {
            result += u'%';
            ++i;
        } else if (rest.startsWith(u"%@")) {
            result += argumentAt(arguments, next++);
            ++i;
        } else if (const qsizetype length = format[i] == u'%' ? positional(format, i, &index) : 0) {
            result += argumentAt(arguments, index);
            i += length - 1;
        } else {
            result += format[i];
        }
    }
    return result;
}
