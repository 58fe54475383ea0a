#pragma once

#include <QStringView>

#include <cstdint>

// The plural categories a string table may give a word's forms under.
enum class PluralCategory { One, Few, Many, Other };

// The category of a whole number under the plural rule of a language the formatter has tables for
// ("en", "es", "nl", "ca", "pl", "cs", "ja", "fr"); any other language follows the English rule.
PluralCategory pluralCategory(QStringView language, uint64_t n);
