#include "files/TextDecoding.h"

#include <gtest/gtest.h>

using TextDecoding::Encoding;

namespace {

struct Case {
    const char* name;
    QByteArray bytes;
    Encoding encoding;
    QString text;
};

QByteArray raw(const char* bytes, qsizetype size) { return QByteArray(bytes, size); }

} // namespace

TEST(Files, DecodingTable)
{
    const QList<Case> cases{
        {"empty", QByteArray(), Encoding::UTF8, QString()},
        {"UTF-8 mark", "\xEF\xBB\xBF" "caf\xC3\xA9", Encoding::UTF8, u"café"_qs},
        {"UTF-8 mark twice", "\xEF\xBB\xBF\xEF\xBB\xBF" "a", Encoding::UTF8, u"\uFEFFa"_qs},
        {"UTF-16LE mark twice", raw("\xFF\xFE\xFF\xFE" "a\0", 6), Encoding::UTF16LE, u"\uFEFFa"_qs},
        {"UTF-16LE mark", raw("\xFF\xFE" "h\0\xE9\0", 6), Encoding::UTF16LE, u"hé"_qs},
        {"UTF-16BE mark", raw("\xFE\xFF\0h\0\xE9", 6), Encoding::UTF16BE, u"hé"_qs},
        {"UTF-32LE mark", raw("\xFF\xFE\0\0" "h\0\0\0", 8), Encoding::UTF32LE, u"h"_qs},
        {"UTF-32BE mark", raw("\0\0\xFE\xFF\0\0\0h", 8), Encoding::UTF32BE, u"h"_qs},
        {"UTF-8 with emoji", "a \xF0\x9F\x98\x80", Encoding::UTF8, u"a 😀"_qs},
        {"even-length ASCII", "ab", Encoding::UTF8, u"ab"_qs},
        {"even-length ASCII, longer", "note", Encoding::UTF8, u"note"_qs},
        {"wide text without zero bytes", "`O}Y", Encoding::UTF8, u"`O}Y"_qs},
        {"Latin-1 letter", "caf\xE9", Encoding::Windows1252, u"café"_qs},
        {"even-length Latin-1", "\xE9t\xE9s", Encoding::Windows1252, u"étés"_qs},
        {"euro and quotes", "\x80 \x93q\x94", Encoding::Windows1252, u"€ “q”"_qs},
        {"overlong slash", "\xC0\xAF", Encoding::Windows1252, u"À¯"_qs},
        {"overlong three bytes", "\xE0\x80\xAF", Encoding::Windows1252, u"à€¯"_qs},
        {"encoded surrogate", "\xED\xA0\x80", Encoding::Windows1252, u"í\u00A0€"_qs},
        {"above U+10FFFF", "\xF4\xA0\x80\x80", Encoding::Windows1252, u"ô\u00A0€€"_qs},
        {"truncated sequence", "ok\xC3", Encoding::Windows1252, u"okÃ"_qs},
        {"UTF-16LE text", raw("h\0e\0l\0l\0o\0\n\0", 12), Encoding::UTF16LE, u"hello\n"_qs},
        {"UTF-16BE text", raw("\0h\0\xE9\0!", 6), Encoding::UTF16BE, u"hé!"_qs},
        {"UTF-16LE mixed scripts", raw("\x1F\x04\x40\x04 \0!\0", 8), Encoding::UTF16LE, u"Пр !"_qs},
        {"UTF-32LE text", raw("h\0\0\0i\0\0\0", 8), Encoding::UTF32LE, u"hi"_qs},
        {"UTF-8 with a stray byte", "caf\xC3\xA9 na\xC3\xAFve \xE6\x97\xA5\xE6\x9C\xAC \xE2\x80\xA6 \xFF",
         Encoding::UTF8WithReplacements, u"café naïve 日本 … \uFFFD"_qs},
        {"marked UTF-8 with a stray byte", "\xEF\xBB\xBF\xC3\xA9\x81", Encoding::UTF8WithReplacements, u"é\uFFFD"_qs},
        {"Latin-1 with one UTF-8 lookalike", "\xE9t\xE9 \xC3\xA9 \xE0 \xE8 \xF9 \xEA", Encoding::Windows1252,
         u"été Ã© à è ù ê"_qs},
    };
    for (const Case& c : cases) {
        QString text = QStringLiteral("unset");
        Encoding used = Encoding::ASCII;
        Error error;
        ASSERT_TRUE(TextDecoding::decode(c.bytes, &text, &used, &error)) << c.name;
        EXPECT_EQ(used, c.encoding) << c.name;
        EXPECT_EQ(text, c.text) << c.name;
    }
}

TEST(Files, DecodingIsTheSameWhereverTheASCIIAroundItEnds)
{
    // A multi-byte character or stray byte at every offset in a word of ASCII.
    const QList<Case> cases{
        {"UTF-8", "caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80", Encoding::UTF8, u"café 日 😀"_qs},
        {"stray byte", "\xC3\xA9 \xE6\x97\xA5 \xFF", Encoding::UTF8WithReplacements, u"é 日 \uFFFD"_qs},
        {"lone continuation byte", "\xC3\xA9\xC3\xA9\x80", Encoding::UTF8WithReplacements, u"éé\uFFFD"_qs},
        {"Latin-1", "\xE9t\xE9 \x80", Encoding::Windows1252, u"été €"_qs},
    };
    for (const Case& c : cases) {
        for (int before = 0; before <= 17; ++before) {
            const QByteArray pad(before, 'x');
            const QByteArray tail(17 - before, 'y');
            QString text;
            Encoding used = Encoding::ASCII;
            ASSERT_TRUE(TextDecoding::decode(pad + c.bytes + tail, &text, &used)) << c.name << before;
            EXPECT_EQ(used, c.encoding) << c.name << before;
            EXPECT_EQ(text, QString::fromLatin1(pad) + c.text + QString::fromLatin1(tail)) << c.name << before;
        }
    }
}

TEST(Files, DecodingRefusesBytesNoEncodingAccepts)
{
    // 0x81 is undefined in Windows-1252 and cannot start UTF-8; an odd
    // length rules out the wide encodings.
    for (const QByteArray& bytes : {QByteArray("\x81"), QByteArray("ab\x8D\xFF\x00", 5)}) {
        QString text = QStringLiteral("unchanged");
        Error error;
        EXPECT_FALSE(TextDecoding::decode(bytes, &text, nullptr, &error));
        EXPECT_EQ(text, "unchanged");
        EXPECT_EQ(error.domain, "NSCocoaErrorDomain");
        EXPECT_EQ(error.code, 264);
    }
    // A mark that its bytes then contradict does not force that encoding.
    QString text;
    Encoding used;
    ASSERT_TRUE(TextDecoding::decode(QByteArray("\xFF\xFE" "a", 3), &text, &used));
    EXPECT_EQ(used, Encoding::Windows1252);
    EXPECT_EQ(text, u"ÿþa"_qs);
}

TEST(Files, DecodingInOneGivenEncodingIsStrict)
{
    QString text;
    EXPECT_TRUE(TextDecoding::decodeAs("\xEF\xBB\xBFok", Encoding::UTF8, &text));
    EXPECT_EQ(text, "ok");
    EXPECT_FALSE(TextDecoding::decodeAs("\xC0\xAF", Encoding::UTF8, &text));

    EXPECT_TRUE(TextDecoding::decodeAs("ab", Encoding::UTF16LE, &text));
    EXPECT_EQ(text, QString(QChar(0x6261)));
    EXPECT_FALSE(TextDecoding::decodeAs("abc", Encoding::UTF16LE, &text));
    EXPECT_FALSE(TextDecoding::decodeAs(raw("\x00\xD8" "a\0", 4), Encoding::UTF16LE, &text));  // lone high surrogate
    EXPECT_FALSE(TextDecoding::decodeAs(raw("\x00\xDC" "a\0", 4), Encoding::UTF16LE, &text));  // lone low surrogate
    EXPECT_TRUE(TextDecoding::decodeAs(raw("\x3D\xD8\x00\xDE", 4), Encoding::UTF16LE, &text)); // a pair
    EXPECT_EQ(text, u"😀"_qs);

    EXPECT_TRUE(TextDecoding::decodeAs(raw("\0\x01\xF6\0", 4), Encoding::UTF32BE, &text));
    EXPECT_EQ(text, u"😀"_qs);
    EXPECT_FALSE(TextDecoding::decodeAs(raw("\0\x11\0\0", 4), Encoding::UTF32BE, &text));
    EXPECT_FALSE(TextDecoding::decodeAs(raw("\0\0\xD8\0", 4), Encoding::UTF32BE, &text));

    Error error;
    EXPECT_FALSE(TextDecoding::decodeAs("caf\xE9", Encoding::ASCII, &text, &error));
    EXPECT_EQ(error.code, 261);
    EXPECT_TRUE(TextDecoding::decodeAs("plain", Encoding::ASCII, &text));
    EXPECT_EQ(text, "plain");
}
