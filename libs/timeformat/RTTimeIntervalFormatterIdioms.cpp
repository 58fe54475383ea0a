// The idiomatic phrases ("yesterday", "next week") of the eight languages, fixed in the code.
#include "RTTimeIntervalFormatter.h"

namespace {

// The phrases for a unit one step back (year, month, week, day), two days back, then the same ahead;
// null where the language has no phrase.
struct Idioms {
    const char16_t* rows[10];
};

const Idioms english = {{u"last year", u"last month", u"last week", u"yesterday", nullptr,
                         u"next year", u"next month", u"next week", u"tomorrow", nullptr}};
const Idioms spanish = {{u"año pasado", u"mes pasado", u"semana pasada", u"ayer", u"antes de ayer",
                         u"próximo año", u"próximo mes", u"próxima semana", u"mañana", u"pasado mañana"}};
const Idioms dutch = {{u"vorig jaar", u"vorige maand", u"vorige week", u"gisteren", u"eergisteren",
                       u"volgend jaar", u"volgende maand", u"volgende week", u"morgen", u"overmorgen"}};
const Idioms catalan = {{u"any passat", u"mes passat", u"setmana passada", u"ahir", u"abans d'ahir",
                         u"pròxim any", u"pròxim mes", u"pròxima setmana", u"demà", u"passat demà"}};
const Idioms polish = {{u"zeszły rok", u"zeszły miesiąc", u"zeszły tydzień", u"wczoraj", nullptr,
                        u"przyszły rok", u"przyszły miesiąc", u"przyszły tydzień", u"jutro", nullptr}};
const Idioms czech = {{u"minulý rok", u"minulý měsíc", u"minulý týden", u"včera", u"předevčírem",
                       u"příští rok", u"příští měsíc", u"příští týden", u"zítra", u"pozítří"}};
const Idioms japanese = {{u"去年", u"先月", u"先週", u"昨日", nullptr, u"来年", u"来月", u"来週", u"明日", nullptr}};
const Idioms french = {{u"l'année dernière", u"le mois dernier", u"la semaine dernière", u"hier", nullptr,
                        u"l'année prochaine", u"le mois prochain", u"la semaine prochaine", u"demain", nullptr}};

const std::pair<QStringView, const Idioms*> idiomsByLanguage[] = {
    {u"en", &english}, {u"es", &spanish}, {u"nl", &dutch}, {u"ca", &catalan},
    {u"pl", &polish}, {u"cs", &czech}, {u"ja", &japanese}, {u"fr", &french},
};

bool is(const std::optional<int64_t>& component, int64_t value) { return component && *component == value; }

// The first row whose unit is one step (or, for the day, two) back or ahead while every larger unit
// is 0; hours and smaller are not looked at. An absent unit matches no row that tests it.
QString idiom(const Idioms& idioms, const DateComponents& c)
{
    for (int direction : {-1, 1}) {
        const int base = direction < 0 ? 0 : 5;
        const bool noYear = is(c.year, 0);
        const bool noMonth = noYear && is(c.month, 0);
        const bool noWeek = noMonth && is(c.week, 0);
        const bool matches[5] = {is(c.year, direction), noYear && is(c.month, direction),
                                 noMonth && is(c.week, direction), noWeek && is(c.day, direction),
                                 noWeek && is(c.day, 2 * direction)};
        for (int row = 0; row < 5; ++row)
            if (matches[row] && idioms.rows[base + row])
                return QString::fromUtf16(idioms.rows[base + row]);
    }
    return QString();
}

} // namespace

QString RTTimeIntervalFormatter::localizedIdiomaticDeicticExpressionForComponents(const DateComponents& components) const
{
    const QString language = QLocale::languageToCode(locale_.language());
    for (const auto& [code, idioms] : idiomsByLanguage)
        if (code == language)
            return idiom(*idioms, components);
    return QString();
}

QString RTTimeIntervalFormatter::caRelativeDateStringForComponents(const DateComponents& c) { return idiom(catalan, c); }
QString RTTimeIntervalFormatter::csRelativeDateStringForComponents(const DateComponents& c) { return idiom(czech, c); }
QString RTTimeIntervalFormatter::enRelativeDateStringForComponents(const DateComponents& c) { return idiom(english, c); }
QString RTTimeIntervalFormatter::esRelativeDateStringForComponents(const DateComponents& c) { return idiom(spanish, c); }
QString RTTimeIntervalFormatter::frRelativeDateStringForComponents(const DateComponents& c) { return idiom(french, c); }
QString RTTimeIntervalFormatter::jaRelativeDateStringForComponents(const DateComponents& c) { return idiom(japanese, c); }
QString RTTimeIntervalFormatter::nlRelativeDateStringForComponents(const DateComponents& c) { return idiom(dutch, c); }
QString RTTimeIntervalFormatter::plRelativeDateStringForComponents(const DateComponents& c) { return idiom(polish, c); }
