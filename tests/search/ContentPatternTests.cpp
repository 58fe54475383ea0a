#include "Store/ContentPattern.h"

#include "SLDatabase.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// The pattern function beside LIKE on the same stored text (bytes bound as a
// blob and cast, so invalid UTF-8 and NULs reach both unchanged).
class SearchContentPattern : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(db->open());
        ContentPattern::registerOn(*db);
    }
    int matches(const char* test, const QByteArray& text, const QByteArray& pattern)
    {
        return db->intForQuery(QStringLiteral("SELECT %1(CAST(? AS TEXT), CAST(? AS TEXT))").arg(QLatin1String(test)),
                               text, pattern);
    }
    void expectAlike(const QByteArray& text, const QByteArray& pattern)
    {
        EXPECT_EQ(matches("notecontains", text, pattern), matches("like", pattern, text))
            << text.toHex().constData() << " / " << pattern.constData();
    }

    std::shared_ptr<SLDatabase> db = SLDatabase::databaseWithPath();
};

TEST_F(SearchContentPattern, MatchesAsLikeDoesOrLeavesThePatternToIt)
{
    const QByteArray longText = QByteArray(37, 'x') + "Needle" + QByteArray(50, 'y');
    const struct {
        QByteArray text;
        const char* pattern;
        int like; // LIKE's answer; -1: a pattern only LIKE matches alike
    } cases[] = {
        {"Buy some Milk", "%buy%milk%", 1}, {"milk then buy", "%buy%milk%", 0}, {"aaab", "%aab%", 1},
        {"a@b", "%a`b%", 0}, {"a[b", "%a{b%", 0}, {"", "%%", 1}, {"", "%a%", 0},
        {QByteArray("ab\0cd", 5), "%cd%", 0}, {QByteArray("ab\0cd", 5), "%ab%", 1}, // LIKE stops at the NUL
        {"\xE9" "abc", "%abc%", 1}, {longText, "%needley%", 1}, {longText, "%yy%x%", 0},
        {"a_b", "%a_b%", -1}, {"caf\xC3\xA9", "%caf\xC3\xA9%", -1},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(c.like >= 0, ContentPattern::parse(c.pattern).has_value()) << c.pattern;
        if (c.like < 0) {
            // Called with such a pattern anyway, the statement fails rather than answering wrongly.
            EXPECT_FALSE(db->executeQuery(QStringLiteral("SELECT notecontains('x', ?)"), QString::fromUtf8(c.pattern)).next());
            continue;
        }
        ASSERT_EQ(matches("like", c.pattern, c.text), c.like) << c.pattern;
        expectAlike(c.text, c.pattern);
    }
    EXPECT_FALSE(ContentPattern::parse("%" + QByteArray(2000, 'a') + "%"));
    // A needle at every offset across the sixteen-byte steps.
    for (int at = 0; at < 40; ++at) {
        const QByteArray text = QByteArray(at, 'q') + "PlaN" + QByteArray(40 - at, 'q');
        EXPECT_EQ(matches("notecontains", text, "%plan%"), 1) << at;
        EXPECT_EQ(matches("notecontains", text, "%plaq%"), 0) << at;
    }
}

TEST_F(SearchContentPattern, AgreesWithLikeOnRandomTexts)
{
    std::mt19937 random(1206);
    const QByteArray alphabet("aAbB@`[{ %\xC3\xA9", 12);
    const auto draw = [&](int length, bool forPattern) {
        QByteArray out;
        for (int i = 0; i < length; ++i) {
            char c = alphabet.at(int(random() % alphabet.size()));
            if (forPattern && static_cast<unsigned char>(c) >= 0x80)
                c = 'a';
            out.append(!forPattern && random() % 40 == 0 ? '\0' : c);
        }
        return out;
    };
    for (int round = 0; round < 3000; ++round)
        expectAlike(draw(int(random() % 60), false), "%" + draw(1 + int(random() % 4), true) + "%");
}

} // namespace
