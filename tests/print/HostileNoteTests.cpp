#include "Export/ExportCommands.h"
#include "Export/MarkdownFormatter.h"
#include "Export/PagePrinter.h"
#include "Export/PrintingTextView.h"
#include "Export/PrintingWebView.h"
#include "Export/RichTextPage.h"
#include "PdfText.h"

#include "Dispatch.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QPrinter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// Tells whether anything opened or read a file in a folder since it was set up.
class FolderWatch {
public:
    explicit FolderWatch(const QString& folder) : fd_(inotify_init1(IN_NONBLOCK))
    {
        EXPECT_GE(inotify_add_watch(fd_, QFile::encodeName(folder).constData(), IN_OPEN | IN_ACCESS), 0);
    }
    ~FolderWatch() { close(fd_); }

    bool touched() const
    {
        char events[4096];
        return read(fd_, events, sizeof events) > 0;
    }

private:
    int fd_;
};

// A TCP port on the loopback that answers nobody: a connection made to it waits in its backlog.
class SilentPort {
public:
    SilentPort() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), length), 0);
        EXPECT_EQ(listen(fd_, 16), 0);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~SilentPort() { close(fd_); }

    int port() const { return port_; }
    bool called() const
    {
        const int connection = accept(fd_, nullptr, nullptr);
        if (connection >= 0)
            close(connection);
        return connection >= 0;
    }

private:
    int fd_;
    int port_ = 0;
};

std::unique_ptr<QPrinter> pdfPrinter(const QString& path)
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(path);
    printer->setFullPage(true);
    return printer;
}

bool waitFor(const std::function<void(ExportCommands::Completion)>& start)
{
    bool done = false, written = false;
    start([&](bool success, const Error&) {
        done = true;
        written = success;
    });
    return DispatchQueue::runMainUntil([&] { return done; }, 60) && written;
}

// Every way a note leaves the application as a file, each writing `path`.
struct Mode {
    const char* name;
    bool pdf;
    std::function<bool(const QString& note, const QString& path)> write;
};

const Mode modes[] = {
    {"HTML export", false,
     [](const QString& note, const QString& path) {
         return waitFor([&](ExportCommands::Completion done) {
             ExportCommands::markdownTextWriteHTMLToURL(note, path, nullptr, std::move(done));
         });
     }},
    {"PDF export", true,
     [](const QString& note, const QString& path) {
         return waitFor([&](ExportCommands::Completion done) {
             ExportCommands::markdownTextWritePDFToURL(note, path, nullptr, std::move(done));
         });
     }},
    {"plain print", true,
     [](const QString& note, const QString& path) {
         return PrintingTextView::newPrintingTextView(note)->print(*pdfPrinter(path));
     }},
    {"formatted print", true,
     [](const QString& note, const QString& path) {
         return PrintingWebView::printHTMLToDevice(MarkdownFormatter::htmlForPrintingWithMarkdownText(note), *pdfPrinter(path));
     }},
};

QString repeated(const char* piece, int times)
{
    return QString::fromLatin1(piece).repeated(times);
}

// Every laid-out line of the document: its text and where it stands.
QStringList placedLines(const QTextDocument& document)
{
    QStringList lines;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QTextLayout* layout = block.layout();
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            const QPointF at = layout->position() + line.position();
            lines << QStringLiteral("%1 @%2,%3").arg(block.text().mid(line.textStart(), line.textLength())).arg(at.x()).arg(at.y());
        }
    }
    return lines;
}

} // namespace

TEST(Printing, NestingReachingTheLayoutIsCapped)
{
    const int max = RichTextPage::MaxNesting;
    const struct {
        const char* name;
        QString in;
        QString out;
    } cases[] = {
        {"deep divs", repeated("<div>", 40) + "x" + repeated("</div>", 40), repeated("<div>", max) + "x" + repeated("</div>", max)},
        {"upper case, quoted >", repeated("<DIV title=\"a>b\" x='c>\\'d>'>", 40) + "x",
         repeated("<DIV title=\"a>b\" x='c>\\'d>'>", max) + "x"},
        {"an end tag goes with its start tag", repeated("<div>", max + 1) + "a</div>b</div>c", repeated("<div>", max) + "ab</div>c"},
        {"nested tables, three levels each", repeated("<table><tr><td>", 20) + "x", repeated("<table><tr><td>", 10) + "<table><tr>x"},
        {"paragraphs end each other", repeated("<p>a", 100), repeated("<p>a", 100)},
        {"list items end each other", "<ul>" + repeated("<li>a", 100), "<ul>" + repeated("<li>a", 100)},
        {"terms and definitions", "<dl>" + repeated("<dt>a<dd>b", 100), "<dl>" + repeated("<dt>a<dd>b", 100)},
        {"cells outside a table are one row", repeated("<td>a", 100), repeated("<td>a", 100)},
        {"empty elements hold nothing", repeated("<br><img src=x><hr><div/>", 100), repeated("<br><img src=x><hr><div/>", 100)},
        {"tags in comments do not count", repeated("<!-- <div> -->", 40) + repeated("<div>", max), repeated("<!-- <div> -->", 40) + repeated("<div>", max)},
        {"stray end tags do not end anything", repeated("</div>", 50) + repeated("<div>", 40), repeated("</div>", 50) + repeated("<div>", max)},
        {"a paragraph ending a deep one", repeated("<div>", max - 1) + "<p>a<p>b<p>c", repeated("<div>", max - 1) + "<p>a<p>b<p>c"},
        {"a definition ends all it may not stand in", repeated("<div>", 40) + "<dd>x", repeated("<div>", max) + "<dd>x"},
        {"a cell ends what is open in its row", "<table><tr>" + repeated("<div>", 40) + "<td>x",
         "<table><tr>" + repeated("<div>", max - 2) + "<td>x"},
        {"style sheet links go", "a<link rel=stylesheet href=\"/x.css\">b", "ab"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RichTextPage::withNestingCapped(c.in).toStdString(), c.out.toStdString()) << c.name;
}

TEST(Printing, LongParagraphsAreCutWhereTheirLinesBreak)
{
    const QString words = repeated("many words wrap here, ", 60);
    const struct {
        const char* name;
        QString html;
        int blocksAfter; // 0: cut into blocks of three lines at most
    } cases[] = {
        {"hanging indent", "<p style=\"margin-left: 30px; text-indent: -30px\">" + words + "</p>", 0},
        {"spacing around the paragraph",
         "<p>before</p><p style=\"margin: 14px 0 20px 0\">" + words + "</p><p>after</p>", 0},
        {"right to left", "<p dir=\"rtl\">" + QStringLiteral("\u05e9\u05dc\u05d5\u05dd \u05e2\u05d5\u05dc\u05dd ").repeated(80) + "</p>", 0},
        {"a heading that starts a page", "<h1 style=\"page-break-before: always\">" + words + "</h1>", 0},
        {"list items stay whole", "<ul><li>" + words + "</li><li>b</li></ul>", 2},
        {"short paragraphs stay whole", "<p>one</p><p>two words</p>", 2},
    };
    for (const auto& c : cases) {
        QTextDocument document;
        document.setHtml(c.html);
        document.setPageSize(QSizeF(300, 150));
        const int pages = document.pageCount();
        const QStringList before = placedLines(document);
        const int blocks = document.blockCount();
        PagePrinter::splitLongParagraphs(document, 3);
        EXPECT_EQ(document.pageCount(), pages) << c.name;
        EXPECT_EQ(placedLines(document), before) << c.name;
        if (c.blocksAfter) {
            EXPECT_EQ(document.blockCount(), c.blocksAfter) << c.name;
            continue;
        }
        EXPECT_GT(document.blockCount(), blocks) << c.name;
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
            EXPECT_LE(block.layout()->lineCount(), 3) << c.name;
    }
}

TEST(Printing, LongWordsGetPlacesToBreak)
{
    const struct {
        const char* name;
        QString text;
        QString broken; // with | for each break opportunity put in
    } cases[] = {
        {"short words stay whole", "short words stay whole", "short words stay whole"},
        {"as long as allowed", "abcdefghij abcdefghij", "abcdefghij abcdefghij"},
        {"longer", "abcdefghijklmn op", "abcd|efgh|ijkl|mn op"},
        {"never inside a surrogate pair", QStringLiteral("abc\U0001D400defghijk"), QStringLiteral("abc\U0001D400|defg|hijk")},
        {"never before a combining mark", QStringLiteral("abce\u0301fghijklm"), QStringLiteral("abce\u0301|fghi|jklm")},
        {"in a later paragraph", "ab\nabcdefghijkl", "ab\nabcd|efgh|ijkl"},
    };
    for (const auto& c : cases) {
        QTextDocument document;
        document.setPlainText(c.text);
        PagePrinter::breakLongWords(document, 10, 4);
        EXPECT_EQ(document.toPlainText().replace(QChar(0x200B), u'|').toStdString(), c.broken.toStdString()) << c.name;
    }
}

TEST(Printing, HostileNotesFinishAndReadNothing)
{
    const QString decoys = TestSupport::home() + QStringLiteral("/decoys");
    QDir().mkpath(decoys);
    QImage red(40, 40, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(decoys + QStringLiteral("/red.png")));
    TestSupport::writeFile(decoys + QStringLiteral("/hidden.css"), "p { display: none }");
    const SilentPort server;
    const QString web = QStringLiteral("http://127.0.0.1:%1").arg(server.port());

    const struct {
        const char* name;
        QString note;
        QStringList shown; // words the formatted output shows
    } notes[] = {
        {"100,000 quote markers", repeated(">", 100000) + "deepest", {"deepest"}},
        {"spaced quote markers", repeated("> ", 20000) + "deepest", {"deepest"}},
        {"nested lists", repeated("- ", 20000) + "deepest", {"deepest"}},
        {"nested divs", repeated("<div>", 20000) + "deepest", {"deepest"}},
        {"nested spans", repeated("<span>", 20000) + "deepest", {"deepest"}},
        {"nested tables", repeated("<table><tr><td>", 5000) + "deepest", {"deepest"}},
        {"images by every kind of source",
         QStringLiteral("<img src=\"file://%1/red.png\" alt=\"byfile\"> <img src=\"%1/red.png\" alt=\"bypath\"> "
                        "<img src=\"red.png\" alt=\"relative\"> <img src=\"%2/red.png\" alt=\"byweb\"> "
                        "<img src=\"%1/red.png\"> ![markdown](%1/red.png) <img src=\"/dev/zero\" alt=\"endless\">")
             .arg(decoys, web),
         {"byfile", "bypath", "relative", "byweb", "markdown", "endless"}},
        {"style sheets and backgrounds",
         QStringLiteral("<link rel=\"stylesheet\" href=\"%1/hidden.css\"><style>@import url(%1/hidden.css); "
                        "@import url(\"file://%1/hidden.css\"); @import url(%2/hidden.css);</style>\n\n"
                        "<table background=\"%1/red.png\"><tr><td style=\"background-image: url(%1/red.png)\">cell</td></tr></table>\n\n"
                        "still shown")
             .arg(decoys, web),
         {"cell", "still", "shown"}},
    };

    // A relative source would be found in the working folder.
    const QString workingFolder = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(decoys));
    for (const auto& n : notes) {
        for (const Mode& mode : modes) {
            const FolderWatch watch(decoys);
            const QString out = TestSupport::home() + QStringLiteral("/hostile-out");
            QElapsedTimer clock;
            clock.start();
            ASSERT_TRUE(mode.write(n.note, out)) << n.name << ", " << mode.name;
            // Generous: the formatted layout took minutes to hours on these before its nesting was
            // capped; plain print of the longest line takes some seconds.
            EXPECT_LT(clock.elapsed(), 20000 * TestSupport::SlowerBuild) << n.name << ", " << mode.name;
            EXPECT_FALSE(watch.touched()) << n.name << ", " << mode.name;
            const QByteArray written = TestSupport::readFile(out);
            if (!mode.pdf) {
                // The page a browser opens is the note as written.
                EXPECT_EQ(written, MarkdownFormatter::htmlForPrintingWithMarkdownText(n.note).toUtf8()) << n.name;
                continue;
            }
            EXPECT_FALSE(written.contains("/Subtype /Image")) << n.name << ", " << mode.name;
            if (QByteArray(mode.name) == "plain print")
                continue;
            // Shown whole and inside the margins, however deep.
            const PdfText pdf(out);
            for (const QString& word : n.shown) {
                const PdfText::Word found = pdf.find(word);
                EXPECT_GT(found.page, 0) << n.name << ", " << mode.name << ": " << word.toStdString() << " not in "
                                         << pdf.joined().left(200).toStdString();
                if (found.page > 0) {
                    EXPECT_LE(found.box.right(), pdf.pages[found.page - 1].width() - 71) << n.name << ", " << mode.name;
                }
            }
        }
    }
    ASSERT_TRUE(QDir::setCurrent(workingFolder));
    EXPECT_FALSE(server.called());

    // Formatted copying parses the same page.
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(MarkdownFormatter::attributedStringWithMarkdownText(repeated(">", 100000) + "deepest").string().contains("deepest"));
    EXPECT_LT(clock.elapsed(), 20000);
}
