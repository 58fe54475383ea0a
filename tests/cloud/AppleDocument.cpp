#include "../store/LogCapture.h"

#include "Cloud/AppleDocument.h"
#include "Store/Note.h"

#include "TestSupport.h"

#include <QFile>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

TEST(AppleDocument, ReadsEveryUnicodeFormAndRefusesOtherBytes)
{
    struct Case {
        const char* name;
        QByteArray bytes;
        std::optional<QString> text; // nothing: refused with -4
    } cases[] = {
        {"UTF-8", QByteArray("caf\xC3\xA9"), QStringLiteral("caf\u00e9")},
        {"empty", QByteArray(), QString()},
        {"UTF-16 little-endian mark", QByteArray("\xFF\xFEh\0\xE9\0", 6), QStringLiteral("h\u00e9")},
        {"UTF-16 big-endian mark", QByteArray("\xFE\xFF\0h\0\xE9", 6), QStringLiteral("h\u00e9")},
        {"UTF-16 without a mark", QByteArray("\0h\0\xE9", 4), std::nullopt},
        {"a NUL", QByteArray("a\0b", 3), std::nullopt},
        {"cut inside a character", QByteArray("caf\xC3", 4), std::nullopt},
        {"UTF-32 little-endian mark", QByteArray("\xFF\xFE\0\0h\0\0\0\xE9\0\0\0", 12), QStringLiteral("h\u00e9")},
        {"UTF-32 big-endian mark", QByteArray("\0\0\xFE\xFF\0\0\0h\0\0\0\xE9", 12), QStringLiteral("h\u00e9")},
        {"a stray byte", QByteArray("\xFF"), std::nullopt},
    };
    for (const Case& c : cases) {
        AppleDocument document(QStringLiteral("/nowhere/a.txt"));
        document.setText(QStringLiteral("before"));
        Error error;
        EXPECT_EQ(document.readFromData(c.bytes, &error), c.text.has_value()) << c.name;
        EXPECT_EQ(document.text(), c.text.value_or(QStringLiteral("before"))) << c.name;
        EXPECT_EQ(error.code, c.text ? 0 : AppleDocument::UndecodableCode) << c.name;
        if (!c.text) {
            EXPECT_EQ(error.domain, QStringLiteral("NSOSStatusErrorDomain"));
        }
    }
}

TEST(AppleDocument, SavesUtf8WithoutAMarkAndReopens)
{
    const QString path = TestSupport::home() + QStringLiteral("/doc.txt");
    AppleDocument blank(path);
    ASSERT_TRUE(blank.save());
    EXPECT_EQ(TestSupport::readFile(path), QByteArray());

    AppleDocument document(path);
    document.setText(QStringLiteral("\u00e9t\u00e9"));
    ASSERT_TRUE(document.save());
    EXPECT_EQ(TestSupport::readFile(path), QByteArray("\xC3\xA9t\xC3\xA9"));
    EXPECT_EQ(document.fileModificationDate(), FileTimes::modificationTime(path));
    const auto reopened = AppleDocument::open(path);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->text(), document.text());

    TestSupport::writeFile(path, "\xFF");
    EXPECT_FALSE(AppleDocument::open(path));
    EXPECT_FALSE(AppleDocument::open(path + QStringLiteral(".missing")));

    // A document larger than a note is read is none to take in; one at the size opens.
    for (const qint64 size : {Note::MaximumTextFileSize, Note::MaximumTextFileSize + 1}) {
        TestSupport::writeFile(path, QByteArray(size, 'a'));
        EXPECT_EQ(AppleDocument::open(path).has_value(), size <= Note::MaximumTextFileSize) << size;
    }
}

TEST(AppleDocument, NamesItselfByItsFileAndLetsADeletionGoAhead)
{
    const auto log = LogCapture::install();
    const AppleDocument document(QStringLiteral("/drive/Documents/Inbox/My plan.txt"));
    EXPECT_EQ(document.localizedName(), QStringLiteral("My plan.txt"));
    EXPECT_EQ(document.fileType(), QStringLiteral("public.text"));
    int calls = 0;
    Error seen = Error::make(QStringLiteral("before"), 1, QString());
    document.accommodatePresentedItemDeletion([&](const Error& error) {
        ++calls;
        seen = error;
    });
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(seen.isNull());
    EXPECT_EQ(log->lines(), (QStringList{"apdoc:localizedName My plan.txt", "apdoc:delete me!?"}));
    log->uninstall();
}

// Two computers saving one document share its hidden name: one's rename can
// take the file away between the other's write and rename. Neither save fails.
TEST(AppleDocument, TwoSavesOfOneDocumentAtOnceBothSucceed)
{
    const QString path = TestSupport::home() + QStringLiteral("/shared.txt");
    std::atomic<int> failed = 0;
    const auto saves = [&](const QString& text) {
        AppleDocument document(path);
        document.setText(text);
        for (int i = 0; i < 150; ++i)
            failed += !document.save(nullptr, FileTime::fromWholeSeconds(1700000000 + i));
    };
    std::thread other(saves, QStringLiteral("theirs"));
    saves(QStringLiteral("mine"));
    other.join();
    EXPECT_EQ(failed, 0);
    const QByteArray text = TestSupport::readFile(path);
    EXPECT_TRUE(text == "mine" || text == "theirs") << text.constData();
    EXPECT_FALSE(QFile::exists(TestSupport::home() + QStringLiteral("/.shared.txt.saving")));
}
