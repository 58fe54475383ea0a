#include "FileName.h"

#include <QTextBoundaryFinder>

namespace FileName {

QString fitted(const QString& part, qsizetype besideBytes, qsizetype limit)
{
    const qsizetype room = limit - besideBytes;
    if (part.toUtf8().size() <= room)
        return part;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, part);
    qsizetype fit = 0;
    qsizetype bytes = 0;
    for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary()) {
        bytes += QStringView(part).mid(fit, at - fit).toUtf8().size();
        if (bytes > room)
            break;
        fit = at;
    }
    return part.left(fit);
}

} // namespace FileName
