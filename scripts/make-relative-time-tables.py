#!/usr/bin/python3
"""Writes the "RelativeTime" string tables of libs/timeformat from the CLDR data that ICU carries.

Run by hand after an ICU update (needs Debian's python3-icu) and commit what it writes:
  libs/timeformat/tables/<language>.json   one table per language; English is the keys themselves
  tests/relativetime/data/plural-samples.json   integers by plural category, to check our rules against

A table value is a text, or an object of texts by plural category ("one", "few", "many", "other")
when the language inflects the word by number.
"""
import json
import os
import re
import sys

import icu

LANGUAGES = ["es", "nl", "ca", "pl", "cs", "ja", "fr"]

# Keys: full singular, full plural, short singular, short plural. The short day has the full day's
# keys, so it takes the full names; the short second is one key for every number.
UNITS = [
    ("year", "years", "yr", "yrs", icu.MeasureUnit.createYear, icu.UDateRelativeUnit.YEARS),
    ("month", "months", "mo", "mos", icu.MeasureUnit.createMonth, icu.UDateRelativeUnit.MONTHS),
    ("week", "weeks", "wk", "wks", icu.MeasureUnit.createWeek, icu.UDateRelativeUnit.WEEKS),
    ("day", "days", None, None, icu.MeasureUnit.createDay, icu.UDateRelativeUnit.DAYS),
    ("hour", "hours", "hr", "hrs", icu.MeasureUnit.createHour, icu.UDateRelativeUnit.HOURS),
    ("minute", "minutes", "min", "mins", icu.MeasureUnit.createMinute, icu.UDateRelativeUnit.MINUTES),
    ("second", "seconds", "s", "s", icu.MeasureUnit.createSecond, icu.UDateRelativeUnit.SECONDS),
]

SAMPLES = list(range(0, 230)) + [1000, 1001, 100000, 10**6, 10**6 + 1, 2 * 10**6, 10**9]
NUMBER = 5  # any number whose digit occurs once in the relative phrases

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def categories(locale):
    """The first sample integer of each plural category the language uses for integers."""
    rules = icu.PluralRules.forLocale(locale)
    first = {}
    for n in SAMPLES:
        first.setdefault(rules.select(n), n)
    return first


def unit_name(locale, width, unit, number):
    formatter = icu.NumberFormatter.withLocale(locale).unitWidth(width)
    text = str(formatter.unit(unit()).formatInt(number))
    digits = str(icu.NumberFormatter.withLocale(locale).formatInt(number))
    return text.replace(digits, "", 1).strip()


def forms(locale, width, unit):
    """The unit's name by plural category: one text when the language does not inflect it."""
    names = {category: unit_name(locale, width, unit, n) for category, n in categories(locale).items()}
    return next(iter(names.values())) if len(set(names.values())) == 1 else names


def common_prefix(texts):
    return os.path.commonprefix(texts)


def common_suffix(texts):
    return os.path.commonprefix([t[::-1] for t in texts])[::-1]


def deictic(locale, direction):
    """The word that turns "5 minutes" into a past or future phrase, and whether it comes first and
    whether a space separates it, from the relative phrases of every unit."""
    relative = icu.RelativeDateTimeFormatter(locale)
    digits = str(NUMBER)
    texts = [str(relative.format(float(NUMBER), direction, unit[5])) for unit in UNITS]
    head = common_prefix([t[: t.index(digits)] for t in texts]).strip()
    if head:
        return head, True, True
    after = texts[0][texts[0].index(digits) + 1 :]
    tail = common_suffix([t[t.index(digits) + 1 :] for t in texts])
    if not tail[:1].isspace() and re.search(r"\s", tail):
        tail = re.split(r"\s", tail, maxsplit=1)[1]  # the common ending began inside the unit's name
    tail = tail.strip()
    spaced = after[: len(after) - len(tail)][-1:].isspace()
    return tail, False, spaced


def approximately(locale):
    bundle = icu.ResourceBundle("", locale)
    pattern = (bundle.getWithFallback("NumberElements").getWithFallback("latn")
               .getWithFallback("miscPatterns").getStringEx("approximately"))
    return pattern.replace("{0}", "%@")


def table(language):
    locale = icu.Locale(language)
    entries = {}
    for full_one, full_other, short_one, short_other, unit, _ in UNITS:
        for one, other, width in ((short_one, short_other, icu.UNumberUnitWidth.SHORT),
                                  (full_one, full_other, icu.UNumberUnitWidth.FULL_NAME)):
            if one is None:
                continue
            names = forms(locale, width, unit)
            entries[one] = names if one == other else unit_name(locale, width, unit, 1)
            entries[other] = names
    past, past_first, spaced = deictic(locale, icu.UDateDirection.LAST)
    future, future_first, _ = deictic(locale, icu.UDateDirection.NEXT)
    if past_first != future_first:
        print(f"{language}: the future word goes {'first' if future_first else 'last'}; "
              f"the table follows the past order", file=sys.stderr)
    entries["ago"] = past
    entries["from now"] = future
    entries["just now"] = str(icu.RelativeDateTimeFormatter(locale).format(
        icu.UDateDirection.PLAIN, icu.UDateAbsoluteUnit.NOW))
    entries["about %@"] = approximately(locale)
    entries["Deictic Expression Format String"] = (
        "%2$@ %1$@" if past_first else "%@ %@" if spaced else "%@%@")
    return entries


def plural_samples():
    result = {}
    for language in ["en"] + LANGUAGES:
        rules = icu.PluralRules.forLocale(icu.Locale(language))
        by_category = {}
        for n in SAMPLES:
            by_category.setdefault(rules.select(n), []).append(n)
        result[language] = by_category
    return result


def write(path, data):
    with open(path, "w", encoding="utf-8") as out:
        json.dump(data, out, ensure_ascii=False, indent=1, sort_keys=True)
        out.write("\n")


def main():
    for language in LANGUAGES:
        write(os.path.join(ROOT, "libs/timeformat/tables", language + ".json"), table(language))
    write(os.path.join(ROOT, "tests/relativetime/data/plural-samples.json"), plural_samples())


if __name__ == "__main__":
    main()
