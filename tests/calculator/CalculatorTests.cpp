// One pass of the calculator over small notes: what it evaluates, which range
// it reports, how subtotals open and close, how numbers are written back, and
// a randomized check that written results are found again.
#include "../store/LogCapture.h"
#include "Calculator/Calculator.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QRegularExpression>
#include <QStringList>

#include <random>

namespace {

struct Result {
    Number value;
    TextRange range;
};

QList<Result> pass(Calculator& calculator, const QString& text, TextRange range)
{
    QList<Result> results;
    calculator.parseText(text, range, [&](const Number& value, TextRange replaced) {
        results.append({value, replaced});
    });
    return results;
}

QList<Result> pass(const QString& text)
{
    Calculator calculator;
    return pass(calculator, text, {0, text.size()});
}

QList<double> values(const QList<Result>& results)
{
    QList<double> doubles;
    for (const auto& result : results)
        doubles.append(result.value.toDouble());
    return doubles;
}

QString applied(QString text, const QList<Result>& results)
{
    for (auto it = results.crbegin(); it != results.crend(); ++it)
        text.replace(it->range.location, it->range.length, Calculator::stringFromNumber(it->value));
    return text;
}

class LocaleScope {
public:
    explicit LocaleScope(const char* name) { QLocale::setDefault(QLocale(QString::fromLatin1(name))); }
    ~LocaleScope() { QLocale::setDefault(QLocale::c()); }
};

} // namespace

// Words, labels, comments, variables, the mended non-finite and substitution
// cases, then subtotals opening and closing by indentation.
TEST(CalculatorLines, EvaluateLikeTheNotation)
{
    const struct {
        const char* text;
        QList<double> expected;
    } cases[] = {
        {"1,5 =>\n2x3 =>\n2 x 3 =>\n2x 3 =>\n1e3 =>\n0x1F =>", {15, 2, 6, 6, 1, 0}},
        {"sqrt(16) =>\nsqrt(-1) =>\n2π =>\n12:30 + 5 =>", {16, -1, 6.283185307179586, 35}},
        {"Rent 500 + Food 200 =>\na = 5 => 99\na * 2 =>", {700, 5, 10}},
        {"x = 4\nx + 1 =>\ntotal = 3 // three\ntotal =>\nmy-rate = 5\nrate 7 =>", {5, 3, 7}},
        {"50 + 10% =>\n1/0 =>\n0/0 =>\n10 ** 400 =>\na = 1/0\na + 2 =>", {2}},
        {"a = 1/10000000\na * 1000000000 =>\nb = 1/3\nb * 3 =>", {100, 1}},
        {"+ 10\n  + 5\n  + 3\n  =>\n=>", {8, 18}},
        {"+ 10\n  + 5\n+ 1\n  =>\n=>\n- 4\n=>", {1, 16, 12}},
        {"=>\n2 =>\n  =>", {2, 2}},
        {"+ 1\n+ 2\nBudget:\n=>\n+ 3\n\n=>\n+ 4\n   \n=>\n+ 5\n// note\n=>", {2, 3, 4, 5}},
        {"+ 1\n+ 2\n-----\n=>\nwords\n=>", {3, 3}},
        {"+ 1\n--\n=>\n  + 2\n+ 2 +\n  =>\n=>", {1, 0, 3}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(values(pass(QString::fromUtf8(c.text))), c.expected) << c.text;
}

TEST(CalculatorLines, ReportTheValueBehindTheMarker)
{
    const struct {
        QString text;
        QString replaced;
        qsizetype location;
    } cases[] = {
        {QStringLiteral("2 =>-12.5\n"), QStringLiteral("-12.5"), 4},
        {QStringLiteral("2 => + 3 apples"), QStringLiteral("+ 3"), 5},
        {QStringLiteral("2 =>  \t\n"), QString(), 7},
        {QStringLiteral("2 => 1,234.5 ok\r\n"), QStringLiteral("1,234.5"), 5},
        {QStringLiteral("2 => 5") + QChar(0x2029) + QStringLiteral("3 =>"), QStringLiteral("5"), 5},
        {QStringLiteral("2 => 5\r3 =>"), QStringLiteral("5"), 5},
    };
    for (const auto& c : cases) {
        const auto results = pass(c.text);
        ASSERT_FALSE(results.isEmpty()) << c.text.toStdString();
        EXPECT_EQ(results[0].range.location, c.location) << c.text.toStdString();
        EXPECT_EQ(c.text.mid(results[0].range.location, results[0].range.length), c.replaced) << c.text.toStdString();
    }
}

TEST(CalculatorPass, RunsOnlyWhenAMarkerStartsInTheRange)
{
    Calculator calculator;
    ASSERT_TRUE(calculator.parseText(QStringLiteral("a = 5 =>"), {0, 8}, [](const Number&, TextRange) {}));
    int calls = 0;
    const auto count = [&](const Number&, TextRange) { ++calls; };
    EXPECT_FALSE(calculator.parseText(QStringLiteral("b = 2\n3 + 4"), {0, 11}, count));
    EXPECT_FALSE(calculator.parseText(QStringLiteral("b = 2\n3 + 4 =>"), {0, 5}, count));
    EXPECT_FALSE(calculator.parseText(QStringLiteral("b = 2 =>"), {0, 8}, Calculator::ResultBlock()));
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(calculator.variables().value(QStringLiteral("a")).toDouble(), 5);
    EXPECT_FALSE(calculator.variables().contains(QStringLiteral("b")));

    // The window ends two characters past the range: later lines are not read.
    const QString text = QStringLiteral("1 =>\n2 =>\n3 =>");
    EXPECT_EQ(values(pass(calculator, text, {2, 0})), QList<double>({1}));
    EXPECT_EQ(values(pass(calculator, text, {6, 0})), QList<double>({1, 2}));
}

TEST(CalculatorPass, DelegateIsHeldWeakly)
{
    struct Collecting : CalculatorDelegate {
        QList<double> values;
        void calculatorReplaceTextWithNumber(Calculator&, const Number& value, TextRange) override
        {
            values.append(value.toDouble());
        }
    };
    Calculator calculator;
    auto delegate = std::make_shared<Collecting>();
    calculator.setDelegate(delegate);
    EXPECT_TRUE(calculator.parseText(QStringLiteral("6 * 7 =>"), {0, 8}));
    EXPECT_EQ(delegate->values, QList<double>({42}));
    delegate.reset();
    EXPECT_EQ(calculator.delegate(), nullptr);
    EXPECT_TRUE(calculator.parseText(QStringLiteral("6 * 7 =>"), {0, 8}));
}

TEST(CalculatorPass, FailedLinesAreLogged)
{
    const auto capture = LogCapture::install();
    pass(QStringLiteral("50 + 10% =>\n1/0 =>"));
    const QStringList texts = capture->lines();
    capture->uninstall();
    ASSERT_EQ(texts.size(), 2);
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("calculator:error [50 + 10%] "))) << texts[0].toStdString();
    EXPECT_TRUE(texts[0].contains(QStringLiteral("Code=10 "))) << texts[0].toStdString();
    EXPECT_TRUE(texts[1].startsWith(QStringLiteral("calculator:error [1/0] "))) << texts[1].toStdString();
    EXPECT_TRUE(texts[1].contains(QStringLiteral("not a finite number"))) << texts[1].toStdString();
}

// Whatever the locale, digits are ASCII, the minus is "-" and no blank
// separates groups: the marker pattern must find the text again.
TEST(CalculatorFormat, NumbersAreWrittenInTheLocale)
{
    const QString narrow(QChar(0x202F));
    const QLocale arabic(QStringLiteral("ar_EG"));
    const struct {
        const char* locale;
        double value;
        QString expected;
    } cases[] = {
        {"en_US", 1234.5678, QStringLiteral("1,234.568")},
        {"de_DE", 1234.5678, QStringLiteral("1.234,568")},
        {"fr_FR", 1234.5678, QStringLiteral("1") + narrow + QStringLiteral("234,568")},
        {"en_US", 1.0005, QStringLiteral("1.001")},
        {"en_US", 999999.9996, QStringLiteral("1,000,000")},
        {"en_US", -0.0001, QStringLiteral("0")},
        {"sv_SE", -5, QStringLiteral("-5")},
        {"ar_EG", -1234.5, "-1" + arabic.groupSeparator() + "234" + arabic.decimalPoint() + "5"},
    };
    for (const auto& c : cases) {
        LocaleScope scope(c.locale);
        EXPECT_EQ(Calculator::stringFromNumber(Number(c.value)), c.expected) << c.locale << " " << c.value;
    }
    LocaleScope german("de_DE");
    EXPECT_EQ(values(pass(QStringLiteral("a = 1250.5\na * 2 =>"))), QList<double>({2501}));
}

TEST(CalculatorNotes, SampleNoteIsStable)
{
    const QString note = QString::fromUtf8(TestSupport::readFile(QStringLiteral(TEST_DATA_DIR "/sample.md")));
    const QString once = applied(note, pass(note));
    EXPECT_TRUE(once.contains(QStringLiteral("  => 8\n=> 18\n"))) << once.toStdString();
    EXPECT_TRUE(once.contains(QStringLiteral("=> 700\n"))) << once.toStdString();
    EXPECT_EQ(applied(once, pass(once)), once);
}

// Random notes of numbers, operators, markers, labels, signs and indentation:
// every range lies behind a marker within its line, and the written text
// gives the same values again.
TEST(CalculatorNotes, RandomNotesFindTheirResultsAgain)
{
    std::mt19937 random(40);
    const QStringList pieces = QStringLiteral("1|23.5|-|+|*|/| |=>|=|a|x|Total:|//|\t|1,000|(2|)|0|---|%").split(u'|');
    const QStringList breaks = {QStringLiteral("\n"), QStringLiteral("\r"), QStringLiteral("\r\n"), QString(QChar(0x2029))};
    const auto pick = [&](const QStringList& list) { return list[int(random() % list.size())]; };
    qsizetype reported = 0;
    for (int note = 0; note < 10000; ++note) {
        QString text;
        for (int line = int(random() % 8); line >= 0; --line) {
            text += QString(int(random() % 3), u' ');
            for (int piece = int(random() % 7); piece >= 0; --piece)
                text += pick(pieces);
            text += pick(breaks);
        }
        const auto results = pass(text);
        static const QRegularExpression behindMarker(QStringLiteral("=>[ \\t]*\\z"));
        static const QRegularExpression terminator(QStringLiteral("[\\n\\r\\x{2029}]"));
        for (const auto& result : results) {
            ASSERT_LE(result.range.end(), text.size());
            ASSERT_TRUE(behindMarker.match(text.left(result.range.location)).hasMatch()) << text.toStdString();
            ASSERT_FALSE(text.mid(result.range.location, result.range.length).contains(terminator)) << text.toStdString();
        }
        const QString output = applied(text, results);
        ASSERT_EQ(values(pass(output)), values(results)) << text.toStdString();
        reported += results.size();
    }
    EXPECT_GT(reported, 1000);
}
