#pragma once

#include <QString>
#include <QVariantMap>

// A failure reported, not thrown: domain, code and a user-info map whose
// "NSLocalizedDescription" entry is the readable text.
struct Error {
    QString domain;
    int code = 0;
    QVariantMap userInfo;

    static Error make(const QString& domain, int code, const QString& description);
    QString localizedDescription() const;
    // For logs: Error Domain=<domain> Code=<code> "<localized description>".
    QString description() const;
    bool isNull() const { return domain.isEmpty() && code == 0; }
};

Q_DECLARE_METATYPE(Error)

inline const char* const ErrorDescriptionKey = "NSLocalizedDescription";
// The failure an error reports on top of, stored as an Error in a QVariant.
inline const char* const UnderlyingErrorKey = "NSUnderlyingError";

// Fills an optional out-parameter; does nothing when the caller passed none.
inline void setError(Error* out, const Error& error)
{
    if (out)
        *out = error;
}
