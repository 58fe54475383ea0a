#include "LogCapture.h"

#include "Snippets/SnippetFormatter.h"
#include "Store/ListItem.h"
#include "Store/Note.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// "+" is 12 wide and " " 5, so the indent is 12 - 16 + 5 + 40 = 41 and a bullet hangs 17 left of it.
struct FixedMetrics : TextMetrics {
    QSizeF sizeOfString(const QString& text, const Font&) const override
    {
        return {text == QLatin1String("+") ? 12.0 : 5.0 * text.size(), 10};
    }
};

class Snippets : public ::testing::Test {
protected:
    Snippets() { formatter.reloadFonts(0, 0); }

    const SnippetFormatter::Style& style() { return *formatter.style(); }
    static std::optional<Color> colorAt(const AttributedString& text, qsizetype index)
    {
        return text.attributesAtIndex(index).foregroundColor;
    }

    FixedMetrics metrics;
    SnippetFormatter formatter{metrics};
};

TEST_F(Snippets, FontsFollowThePresetAndIndentsTheWidths)
{
    EXPECT_EQ(style().regularFont.pointSize, 14);
    EXPECT_EQ(style().boldFont.pointSize, 14);
    EXPECT_EQ(style().bigFont.pointSize, 18);
    EXPECT_EQ(style().indent, 41);
    EXPECT_EQ(style().listStyle.firstLineHeadIndent, 24);
    EXPECT_EQ(style().listStyle.headIndent, 41);

    // A build holds its snapshot while the pane reloads.
    const auto before = formatter.style();
    formatter.reloadFonts(6, 2);
    EXPECT_EQ(before->regularFont.pointSize, 14);
    EXPECT_EQ(style().regularFont.pointSize, 22);
    EXPECT_EQ(style().textColor, Themeset::snippetColorForTheme(2));
}

TEST_F(Snippets, AnUntitledNoteShowsOnlyThePlaceholder)
{
    const AttributedString text = formatter.newSnippetWithNote(QString(), QStringLiteral("a summary"));
    EXPECT_EQ(text.string(), QStringLiteral("New Note..."));
    TextRange run;
    EXPECT_EQ(text.attributesAtIndex(0, &run).font, style().italicFont);
    EXPECT_EQ(run, (TextRange{0, text.length()}));
}

TEST_F(Snippets, TitleQueryMarksLettersInOrder)
{
    const struct {
        const char* query;
        QList<qsizetype> marked;
    } cases[] = {{"nte", {0, 2, 3}}, {"nxe", {0, 3}}, {"EE", {3}}, {"", {}}};
    for (const auto& c : cases) {
        const AttributedString text =
            formatter.newSnippetWithNote(QStringLiteral("Note"), QStringLiteral("body"), QString::fromUtf8(c.query));
        ASSERT_EQ(text.string(), QStringLiteral("Note\nbody"));
        for (qsizetype i = 0; i < 4; ++i)
            EXPECT_EQ(colorAt(text, i), c.marked.contains(i) ? style().searchStrongColor : style().boldColor)
                << c.query << " at " << i;
        EXPECT_EQ(text.attributesAtIndex(5).font, style().regularFont);
    }
}

TEST_F(Snippets, SearchMarksDropTheirBracketsAndTakeTheSign)
{
    const struct {
        const char* snippet;
        const char* shown;
        QList<TextRange> marked;
    } cases[] = {
        {"#[plan] and #[work] or [plan]", "#plan and #work or plan", {{0, 5}, {10, 5}, {19, 4}}},
        {"@[ann] x", "@ann x", {{0, 4}}},
        // A mark ends at the first "]": an inner "[" is part of the marked text.
        {"[[a]]", "[a]", {{0, 2}}},
        {"a [b [c] d] e]", "a b [c d] e]", {{2, 4}}},
        {"x#[[t]]", "x#[t]", {{1, 3}}},
        {"open [ and", "open [ and", {}},
        {"x ] y [", "x ] y [", {}},
    };
    for (const auto& c : cases) {
        const AttributedString text = formatter.newSnippetWithSearchTitle(QString(), QString::fromUtf8(c.snippet));
        // The title is empty, so the snippet follows a line break.
        ASSERT_EQ(text.string(), QLatin1Char('\n') + QString::fromUtf8(c.shown));
        for (qsizetype i = 1; i < text.length(); ++i) {
            const bool marked = std::any_of(c.marked.begin(), c.marked.end(),
                                            [&](TextRange r) { return r.contains(i - 1); });
            const TextAttributes& attributes = text.attributesAtIndex(i);
            EXPECT_EQ(attributes.font, marked ? style().boldFont : style().regularFont) << c.snippet << " at " << i;
            EXPECT_EQ(attributes.foregroundColor, marked ? style().searchStrongColor : style().searchColor)
                << c.snippet << " at " << i;
        }
    }
}

TEST_F(Snippets, ListLinesHangTheirBulletAndStrikeDoneItems)
{
    const AttributedString text =
        formatter.newSnippetWithNote(QStringLiteral("T"), QStringLiteral("- buy milk~\n-x y\n* eggs\n- "));
    const QString& s = text.string();
    const qsizetype line = s.indexOf(u'-');
    EXPECT_EQ(text.attributesAtIndex(line).font, style().codeFont);
    EXPECT_EQ(colorAt(text, line), style().symbolColor);
    for (qsizetype i = line + 2; i < line + 10; ++i) {
        EXPECT_EQ(text.attributesAtIndex(i).strikethroughStyle, 1) << i;
        EXPECT_EQ(colorAt(text, i), style().symbolColor) << i;
    }
    EXPECT_EQ(colorAt(text, line + 10)->alpha, 0);
    EXPECT_FALSE(text.attributesAtIndex(line + 10).strikethroughStyle.has_value());

    const auto paragraphAt = [&](const char* start) {
        return text.attributesAtIndex(s.indexOf(QString::fromUtf8(start))).paragraphStyle;
    };
    EXPECT_EQ(paragraphAt("T"), style().normalStyle);
    EXPECT_EQ(paragraphAt("- buy"), style().listStyle);
    EXPECT_EQ(text.attributesAtIndex(s.size() - 1).paragraphStyle, style().normalStyle);
    EXPECT_EQ(paragraphAt("-x"), style().normalStyle);
    EXPECT_EQ(paragraphAt("* eggs"), style().listStyle);
    EXPECT_FALSE(text.attributesAtIndex(s.indexOf(u'e')).strikethroughStyle.has_value());
}

TEST_F(Snippets, ADeletedNoteShowsItsTitleTheTextInTheTrashColourAndItsSummary)
{
    formatter.reloadFonts(0, 3);
    const struct {
        const char* title;
        const char* summary;
        const char* shown;
        qsizetype titleLength;
    } cases[] = {
        {"Plans", "buy milk", "Plans \u2022 2 days ago\nbuy milk", 5},
        {"", "", "Untitled \u2022 2 days ago\n", 8},
        {"100% [done]", "", "100% [done] \u2022 2 days ago\n", 11},
    };
    for (const auto& c : cases) {
        Note note;
        note.setTitle(QString::fromUtf8(c.title));
        note.setSummary(QString::fromUtf8(c.summary));
        const AttributedString text = formatter.newSnippetWithDeletedNote(note, QStringLiteral("2 days ago"));
        ASSERT_EQ(text.string(), QString::fromUtf8(c.shown)) << c.title;
        const qsizetype summaryAt = text.string().indexOf(u'\n') + 1;
        for (qsizetype i = 0; i < text.length(); ++i) {
            const TextAttributes& attributes = text.attributesAtIndex(i);
            const bool title = i < c.titleLength;
            EXPECT_EQ(attributes.font, title ? style().boldFont : style().regularFont) << c.title << " at " << i;
            EXPECT_EQ(attributes.foregroundColor, title             ? style().boldColor
                                                  : i < summaryAt ? Themeset::trashButtonColorForTheme(3)
                                                                  : style().textColor)
                << c.title << " at " << i;
        }
    }
}

TEST_F(Snippets, RowFailuresAreLoggedAndKeepTheOldText)
{
    const auto capture = LogCapture::install();
    SnippetFormatter throwing(metrics, [](Note&, Error*) -> bool { throw std::runtime_error("disk gone"); });
    throwing.reloadFonts(0, 0);
    ListItem row(0, QStringLiteral("a.txt"), QString(), QString(), NoteStorageInbox);
    const auto old = std::make_shared<const AttributedString>(QStringLiteral("old"));
    row.setAttributedText(old);
    throwing.restoreListItemAttributeText(row);
    EXPECT_EQ(row.attributedText(), old);

    SnippetFormatter failing(metrics, [](Note& note, Error*) {
        note.setTitle(QStringLiteral("Kept"));
        return false;
    });
    failing.reloadFonts(0, 0);
    failing.restoreListItemAttributeText(row);
    EXPECT_EQ(row.title(), QStringLiteral("Kept"));
    EXPECT_EQ(row.attributedText()->string(), QStringLiteral("Kept"));

    ListItem tag(ListItemTagEntry, QStringLiteral("plan"), QStringLiteral("#plan"), QStringLiteral("#pn"), 4);
    failing.restoreListItemAttributeText(tag);
    EXPECT_EQ(tag.attributedText()->string(), QStringLiteral("#plan"));
    EXPECT_EQ(tag.attributedText()->attributesAtIndex(0).font, failing.style()->bigFont);

    const QStringList lines = capture->lines();
    capture->uninstall();
    EXPECT_TRUE(lines.contains(QStringLiteral("snippet:reload error error disk gone")))
        << lines.join('|').toStdString();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const QString& l) { return l.startsWith(QLatin1String("snippet:reload error: ")); }));
}

} // namespace
