#pragma once

#include "PluralRules.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>

// One language's "RelativeTime" string table: a text per key, or the forms of a word by plural
// category, chosen by the table language's plural rule. A key the table lacks is its own text, so
// the empty table is English.
class RelativeTimeTable {
public:
    RelativeTimeTable() = default;

    // The table of a language from the library's resources; the empty table when there is none.
    static std::shared_ptr<const RelativeTimeTable> forLanguage(const QString& languageCode);
    // The table of the first UI language (LANGUAGE, LC_MESSAGES, LANG) that English or a table
    // serves; read once per process.
    static std::shared_ptr<const RelativeTimeTable> forProcess();
    // The language of the first of `uiLanguages` ("es-ES", "pl") that has a table; "" for English,
    // or when none has one.
    static QString languageFor(const QStringList& uiLanguages);

    QString language() const { return language_; }
    bool isEmpty() const { return entries_.isEmpty(); }

    // The text of `key`; `fallback` when the table lacks it, or the key itself when that is null.
    QString text(const QString& key, const QString& fallback = QString()) const;
    // The form of `key` for `number`; the key itself when the table lacks it.
    QString pluralText(const QString& key, uint64_t number) const;

private:
    using Forms = std::array<QString, 4>; // by PluralCategory; null where the table has no form

    static QString pick(const Forms& forms, PluralCategory category);

    QString language_;
    QHash<QString, Forms> entries_;
};
