// reltime: prints the phrase for each interval in seconds (negative ones lie in the past), one a
// line; an interval with nothing to say prints an empty line.
#include "RTTimeIntervalFormatter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {

int fail(const QString& message)
{
    QTextStream(stderr) << "reltime: " << message << '\n';
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Phrases time intervals in words."));
    parser.addHelpOption();
    const QCommandLineOption locale(QStringLiteral("locale"), QStringLiteral("Language of the idioms."), QStringLiteral("L"));
    const QCommandLineOption idioms(QStringLiteral("idioms"), QStringLiteral("Say \"yesterday\", \"next week\" where the language can."));
    const QCommandLineOption abbreviated(QStringLiteral("abbreviated"), QStringLiteral("Abbreviate the unit names."));
    const QCommandLineOption approximate(QStringLiteral("approximate"), QStringLiteral("Say \"about\" when units are left out."));
    const QCommandLineOption units(QStringLiteral("units"), QStringLiteral("Most units to show; 0 shows all."), QStringLiteral("N"), QStringLiteral("1"));
    parser.addOptions({locale, idioms, abbreviated, approximate, units});
    parser.addPositionalArgument(QStringLiteral("seconds"), QStringLiteral("Intervals; put -- before negative ones."), QStringLiteral("SECONDS…"));
    parser.process(application);

    RTTimeIntervalFormatter formatter;
    if (parser.isSet(locale))
        formatter.setLocale(QLocale(parser.value(locale)));
    formatter.setUsesIdiomaticDeicticExpressions(parser.isSet(idioms));
    formatter.setUsesAbbreviatedCalendarUnits(parser.isSet(abbreviated));
    formatter.setUsesApproximateQualifier(parser.isSet(approximate));
    bool ok = false;
    const qulonglong count = parser.value(units).toULongLong(&ok);
    if (!ok)
        return fail(QStringLiteral("--units wants a whole number, not \"%1\"").arg(parser.value(units)));
    formatter.setNumberOfSignificantUnits(count);

    QTextStream out(stdout);
    for (const QString& argument : parser.positionalArguments()) {
        const double seconds = argument.toDouble(&ok);
        if (!ok)
            return fail(QStringLiteral("not a number of seconds: \"%1\"").arg(argument));
        out << formatter.stringForTimeInterval(seconds) << '\n';
    }
    return 0;
}
