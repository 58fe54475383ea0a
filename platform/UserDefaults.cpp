#include "UserDefaults.h"

#include "Folders.h"

#include <QFileInfo>

#include <cstdlib>

UserDefaults& UserDefaults::standard()
{
    // Never destroyed: Core, which is never released either, reads it from its queues while the
    // process exits. The changes still reach the file at exit, where its destructor wrote them.
    static UserDefaults* const defaults = [] {
        auto* made = new UserDefaults(Folders::config() + QStringLiteral("/defaults.ini"));
        std::atexit([] { standard().synchronize(); });
        return made;
    }();
    return *defaults;
}

// The settings file is the user's alone; QSettings keeps the mode of the file it replaces.
static const QString& privateFile(const QString& path)
{
    Folders::ensure(QFileInfo(path).absolutePath());
    Folders::createPrivateFile(path);
    return path;
}

UserDefaults::UserDefaults(const QString& path)
    : settings_(std::make_unique<QSettings>(privateFile(path), QSettings::IniFormat))
{
}

QVariant UserDefaults::objectForKey(const QString& key) const
{
    QMutexLocker lock(&mutex_);
    return settings_->value(key);
}

qint64 UserDefaults::integerForKey(const QString& key) const { return objectForKey(key).toLongLong(); }
double UserDefaults::doubleForKey(const QString& key) const { return objectForKey(key).toDouble(); }
QString UserDefaults::stringForKey(const QString& key) const { return objectForKey(key).toString(); }
QByteArray UserDefaults::dataForKey(const QString& key) const { return objectForKey(key).toByteArray(); }

bool UserDefaults::boolForKey(const QString& key) const
{
    const QVariant value = objectForKey(key);
    // INI files keep values as text: "true"/"false" and numbers both count.
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed().toLower();
        return text == QLatin1String("true") || text == QLatin1String("yes") || text.toLongLong() != 0;
    }
    return value.toBool();
}

void UserDefaults::setObject(const QVariant& value, const QString& key)
{
    QMutexLocker lock(&mutex_);
    if (value.isNull())
        settings_->remove(key);
    else
        settings_->setValue(key, value);
}

void UserDefaults::setInteger(qint64 value, const QString& key) { setObject(value, key); }
void UserDefaults::setBool(bool value, const QString& key) { setObject(value, key); }
void UserDefaults::setDouble(double value, const QString& key) { setObject(value, key); }
void UserDefaults::setString(const QString& value, const QString& key) { setObject(value, key); }
void UserDefaults::setData(const QByteArray& value, const QString& key) { setObject(value, key); }
void UserDefaults::removeObject(const QString& key) { setObject(QVariant(), key); }

bool UserDefaults::synchronize()
{
    QMutexLocker lock(&mutex_);
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

QString UserDefaults::path() const
{
    QMutexLocker lock(&mutex_);
    return settings_->fileName();
}
