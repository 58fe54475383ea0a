#include "PluralRules.h"

namespace {

// Whole millions are "many" in the Romance languages ("1 000 000 de minutes").
bool isWholeMillion(uint64_t n) { return n != 0 && n % 1'000'000 == 0; }

PluralCategory slavic(uint64_t n)
{
    if (n == 1)
        return PluralCategory::One;
    const uint64_t ones = n % 10, tens = n % 100;
    if (ones >= 2 && ones <= 4 && (tens < 12 || tens > 14))
        return PluralCategory::Few;
    return PluralCategory::Many;
}

} // namespace

PluralCategory pluralCategory(QStringView language, uint64_t n)
{
    if (language == u"ja")
        return PluralCategory::Other;
    if (language == u"pl")
        return slavic(n);
    if (language == u"cs")
        return n == 1 ? PluralCategory::One : n >= 2 && n <= 4 ? PluralCategory::Few : PluralCategory::Other;
    if (language == u"fr" && n <= 1)
        return PluralCategory::One;
    if (language == u"es" || language == u"ca" || language == u"fr")
        return n == 1 ? PluralCategory::One : isWholeMillion(n) ? PluralCategory::Many : PluralCategory::Other;
    return n == 1 ? PluralCategory::One : PluralCategory::Other;
}
