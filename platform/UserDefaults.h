#pragma once

#include <QByteArray>
#include <QMutex>
#include <QSettings>
#include <QString>
#include <QVariant>

#include <memory>

// The user's settings, kept in an INI file in the config folder. A missing key
// reads 0, NO or null. Safe to call from any thread.
class UserDefaults {
public:
    static UserDefaults& standard();
    explicit UserDefaults(const QString& path);

    QVariant objectForKey(const QString& key) const;
    qint64 integerForKey(const QString& key) const;
    bool boolForKey(const QString& key) const;
    double doubleForKey(const QString& key) const;
    QString stringForKey(const QString& key) const;
    QByteArray dataForKey(const QString& key) const;

    void setObject(const QVariant& value, const QString& key);
    void setInteger(qint64 value, const QString& key);
    void setBool(bool value, const QString& key);
    void setDouble(double value, const QString& key);
    void setString(const QString& value, const QString& key);
    void setData(const QByteArray& value, const QString& key);
    void removeObject(const QString& key);

    // Writes pending changes to disk and reads changes made by others.
    bool synchronize();

    QString path() const;

private:
    mutable QMutex mutex_;
    std::unique_ptr<QSettings> settings_;
};
