#include "RelativeTimeTable.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QtDebug>

namespace {

const QString tableFolder = QStringLiteral(":/relativetime/");

const std::pair<QString, PluralCategory> categoryNames[] = {
    {QStringLiteral("one"), PluralCategory::One},
    {QStringLiteral("few"), PluralCategory::Few},
    {QStringLiteral("many"), PluralCategory::Many},
    {QStringLiteral("other"), PluralCategory::Other},
};

QString baseLanguage(const QString& uiLanguage)
{
    return uiLanguage.section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0).toLower();
}

} // namespace

std::shared_ptr<const RelativeTimeTable> RelativeTimeTable::forLanguage(const QString& languageCode)
{
    auto table = std::make_shared<RelativeTimeTable>();
    QFile file(tableFolder + languageCode + QStringLiteral(".json"));
    if (languageCode.isEmpty() || !file.open(QIODevice::ReadOnly))
        return table;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (!document.isObject()) {
        qWarning("RelativeTime table %s unreadable: %s", qPrintable(languageCode), qPrintable(error.errorString()));
        return table;
    }
    table->language_ = languageCode;
    const QJsonObject entries = document.object();
    for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
        Forms forms;
        if (entry->isString())
            forms[size_t(PluralCategory::Other)] = entry->toString();
        for (const auto& [name, category] : categoryNames)
            if (const QJsonValue form = entry->toObject().value(name); form.isString())
                forms[size_t(category)] = form.toString();
        if (!pick(forms, PluralCategory::Other).isNull())
            table->entries_.insert(entry.key(), forms);
    }
    return table;
}

QString RelativeTimeTable::languageFor(const QStringList& uiLanguages)
{
    for (const QString& uiLanguage : uiLanguages) {
        const QString language = baseLanguage(uiLanguage);
        if (language == u"en")
            return QString();
        if (QFile::exists(tableFolder + language + QStringLiteral(".json")))
            return language;
    }
    return QString();
}

std::shared_ptr<const RelativeTimeTable> RelativeTimeTable::forProcess()
{
    static const std::shared_ptr<const RelativeTimeTable> table =
        forLanguage(languageFor(QLocale::system().uiLanguages()));
    return table;
}

QString RelativeTimeTable::pick(const Forms& forms, PluralCategory category)
{
    if (!forms[size_t(category)].isNull())
        return forms[size_t(category)];
    if (!forms[size_t(PluralCategory::Other)].isNull())
        return forms[size_t(PluralCategory::Other)];
    for (const QString& form : forms)
        if (!form.isNull())
            return form;
    return QString();
}

QString RelativeTimeTable::text(const QString& key, const QString& fallback) const
{
    const auto entry = entries_.constFind(key);
    if (entry == entries_.cend())
        return fallback.isNull() ? key : fallback;
    return pick(*entry, PluralCategory::Other);
}

QString RelativeTimeTable::pluralText(const QString& key, uint64_t number) const
{
    const auto entry = entries_.constFind(key);
    return entry == entries_.cend() ? key : pick(*entry, pluralCategory(language_, number));
}
