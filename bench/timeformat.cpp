// The relative time formatter against ICU on the same work: 100,000 intervals from a second to
// ten years, each taken apart by the calendar greedily from year down to second and phrased.
// ICU finds the same differences with Calendar::fieldDifference and phrases the largest unit with
// RelativeDateTimeFormatter. Both sides end with a QString.
#include "RTTimeIntervalFormatter.h"

#include <benchmark/benchmark.h>

#include <unicode/gregocal.h>
#include <unicode/reldatefmt.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr int phraseCount = 100000;

const std::vector<double>& intervals()
{
    static const std::vector<double> intervals = [] {
        std::vector<double> result;
        uint64_t seed = 42;
        for (int i = 0; i < phraseCount; ++i) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            const double magnitude = std::pow(10.0, double(seed >> 11) / double(1ULL << 53) * 8.5); // to ~10 years
            result.push_back(seed & 1 ? magnitude : -magnitude);
        }
        return result;
    }();
    return intervals;
}

void perPhrase(benchmark::State& state)
{
    state.SetItemsProcessed(int64_t(state.iterations()) * phraseCount);
    state.counters["per_phrase"] =
        benchmark::Counter(double(state.iterations()) * phraseCount, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void phrase(benchmark::State& state, RTTimeIntervalFormatter formatter)
{
    for (auto _ : state)
        for (double seconds : intervals())
            benchmark::DoNotOptimize(formatter.stringForTimeInterval(seconds));
    perPhrase(state);
}

void BM_Formatter_UTC(benchmark::State& state)
{
    RTTimeIntervalFormatter formatter;
    formatter.setCalendar(Calendar(QTimeZone::utc()));
    phrase(state, formatter);
}

void BM_Formatter_Berlin_AllUnits(benchmark::State& state)
{
    RTTimeIntervalFormatter formatter;
    formatter.setCalendar(Calendar(QTimeZone("Europe/Berlin")));
    formatter.setNumberOfSignificantUnits(0);
    phrase(state, formatter);
}

void BM_Formatter_Polish_Idioms(benchmark::State& state)
{
    RTTimeIntervalFormatter formatter(RelativeTimeTable::forLanguage(QStringLiteral("pl")));
    formatter.setCalendar(Calendar(QTimeZone::utc()));
    formatter.setLocale(QLocale(QLocale::Polish));
    formatter.setUsesIdiomaticDeicticExpressions(true);
    phrase(state, formatter);
}

void BM_ICU_UTC(benchmark::State& state)
{
    UErrorCode status = U_ZERO_ERROR;
    icu::RelativeDateTimeFormatter formatter(icu::Locale::getEnglish(), status);
    std::unique_ptr<icu::Calendar> calendar(new icu::GregorianCalendar(*icu::TimeZone::getGMT(), status));
    const std::pair<UCalendarDateFields, UDateRelativeUnit> units[] = {
        {UCAL_YEAR, UDAT_RELATIVE_YEARS}, {UCAL_MONTH, UDAT_RELATIVE_MONTHS},
        {UCAL_WEEK_OF_YEAR, UDAT_RELATIVE_WEEKS}, {UCAL_DATE, UDAT_RELATIVE_DAYS},
        {UCAL_HOUR_OF_DAY, UDAT_RELATIVE_HOURS}, {UCAL_MINUTE, UDAT_RELATIVE_MINUTES},
        {UCAL_SECOND, UDAT_RELATIVE_SECONDS},
    };
    for (auto _ : state) {
        for (double seconds : intervals()) {
            const UDate now = icu::Calendar::getNow();
            calendar->setTime(now, status);
            icu::UnicodeString text;
            for (const auto& [field, unit] : units) {
                const int32_t n = calendar->fieldDifference(now + seconds * 1000, field, status);
                if (n != 0 && text.isEmpty())
                    formatter.format(std::abs(n), n < 0 ? UDAT_DIRECTION_LAST : UDAT_DIRECTION_NEXT, unit, text, status);
            }
            benchmark::DoNotOptimize(QString::fromUtf16(reinterpret_cast<const char16_t*>(text.getBuffer()), text.length()));
        }
    }
    if (U_FAILURE(status))
        state.SkipWithError(u_errorName(status));
    perPhrase(state);
}

void BM_NewFormatter(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(RTTimeIntervalFormatter());
}

} // namespace

BENCHMARK(BM_Formatter_UTC)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Formatter_Berlin_AllUnits)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Formatter_Polish_Idioms)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ICU_UTC)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NewFormatter);
BENCHMARK_MAIN();
