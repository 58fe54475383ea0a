#include "Error.h"

Error Error::make(const QString& domain, int code, const QString& description)
{
    Error error;
    error.domain = domain;
    error.code = code;
    if (!description.isEmpty())
        error.userInfo.insert(ErrorDescriptionKey, description);
    return error;
}

QString Error::localizedDescription() const
{
    const QString text = userInfo.value(ErrorDescriptionKey).toString();
    if (!text.isEmpty())
        return text;
    return QStringLiteral("The operation couldn't be completed. (%1 error %2.)").arg(domain).arg(code);
}

QString Error::description() const
{
    // Concatenated, not .arg(): a text holding "%1" must come out as it stands.
    return QStringLiteral("Error Domain=") + domain + QStringLiteral(" Code=") + QString::number(code)
           + QStringLiteral(" \"") + localizedDescription() + QLatin1Char('"');
}
