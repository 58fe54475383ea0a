#include "Store/ContentPattern.h"

#include "SLDatabase.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// The pattern function and LIKE on the same text, as stored text (bytes bound
// as a blob and cast, so invalid UTF-8 and NULs reach both unchanged).
class SearchContentPattern : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(db->open());
        ContentPattern::registerOn(*db);
        ASSERT_TRUE(db->hasFunctionNamed(ContentPattern::FunctionName));
    }

    int viaLike(const QByteArray& text, const QByteArray& pattern)
    {
        return db->intForQuery(QStringLiteral("SELECT CAST(? AS TEXT) LIKE CAST(? AS TEXT)"), text, pattern);
    }
    int viaFunction(const QByteArray& text, const QByteArray& pattern)
    {
        return db->intForQuery(QStringLiteral("SELECT notecontains(CAST(? AS TEXT), CAST(? AS TEXT))"), text, pattern);
    }

    std::shared_ptr<SLDatabase> db = SLDatabase::databaseWithPath();
};

TEST_F(SearchContentPattern, ContentPatternMatchesAsLikeDoes)
{
    const QByteArray longText = QByteArray(37, 'x') + "Needle" + QByteArray(50, 'y');
    const struct {
        QByteArray text;
        const char* pattern;
        bool matches;
    } cases[] = {
        {"Buy some Milk", "%buy%milk%", true},
        {"milk then buy", "%buy%milk%", false},
        {"BUYMILK", "%buy%milk%", true},
        {"aaab", "%aab%", true},            // a start that fails, then one that fits
        {"a@b", "%a`b%", false},            // only letters fold
        {"a[b", "%a{b%", false},
        {"100% done", "%100%done%", true},
        {"", "%%", true},
        {"", "%a%", false},
        {QByteArray("ab\0cd", 5), "%cd%", false},   // LIKE stops at the NUL
        {QByteArray("ab\0cd", 5), "%ab%", true},
        {QByteArray("caf\xC3\xA9 bar", 9), "%bar%", true},
        {QByteArray("\xE9" "abc", 4), "%abc%", true}, // a stray byte outside UTF-8
        {longText, "%needle%", true},
        {longText, "%needley%", true},
        {longText, "%needlez%", false},
        {longText, "%xn%", true},
        {longText, "%yy%x%", false},
    };
    for (const auto& c : cases) {
        const QByteArray pattern(c.pattern);
        ASSERT_EQ(viaLike(c.text, pattern), c.matches ? 1 : 0) << c.text.constData() << " / " << c.pattern;
        EXPECT_EQ(viaFunction(c.text, pattern), viaLike(c.text, pattern)) << c.text.constData() << " / " << c.pattern;
    }
    // A needle at every offset across the sixteen-byte steps.
    for (int at = 0; at < 40; ++at) {
        const QByteArray text = QByteArray(at, 'q') + "PlaN" + QByteArray(40 - at, 'q');
        EXPECT_EQ(viaFunction(text, "%plan%"), 1) << at;
        EXPECT_EQ(viaFunction(text, "%plaq%"), 0) << at;
    }
}

TEST_F(SearchContentPattern, ContentPatternLeavesToLikeWhatItCannotMatchAlike)
{
    const QByteArray handled[] = {"%buy%milk%", "%%", "%100%", "%a`{[@%"};
    for (const QByteArray& pattern : handled)
        EXPECT_TRUE(ContentPattern::parse(pattern)) << pattern.constData();
    const QByteArray refused[] = {"%a_b%", "%caf\xC3\xA9%", QByteArray("%a\0b%", 5), "%" + QByteArray(2000, 'a') + "%"};
    for (const QByteArray& pattern : refused)
        EXPECT_FALSE(ContentPattern::parse(pattern)) << pattern.left(20).constData();
    // Called with such a pattern anyway, the statement fails rather than answering wrongly.
    EXPECT_FALSE(db->executeQuery(QStringLiteral("SELECT notecontains('a b', '%a_b%')")).next());
}

TEST_F(SearchContentPattern, ContentPatternAgreesWithLikeOnRandomTexts)
{
    std::mt19937 random(1206);
    const QByteArray alphabet("aAbB@`[{ %\xC3\xA9", 12);
    const auto draw = [&](int length, bool forPattern) {
        QByteArray out;
        for (int i = 0; i < length; ++i) {
            char c = alphabet.at(int(random() % alphabet.size()));
            if (forPattern && static_cast<unsigned char>(c) >= 0x80)
                c = 'a';
            if (!forPattern && random() % 40 == 0)
                c = '\0';
            out.append(c);
        }
        return out;
    };
    for (int round = 0; round < 3000; ++round) {
        const QByteArray text = draw(int(random() % 60), false);
        const QByteArray pattern = "%" + draw(1 + int(random() % 4), true) + "%";
        ASSERT_EQ(viaFunction(text, pattern), viaLike(text, pattern))
            << text.toHex().constData() << " / " << pattern.constData();
    }
}

} // namespace
