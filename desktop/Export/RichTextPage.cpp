#include "Export/RichTextPage.h"

#include <QHash>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

#include <algorithm>

#include <vector>

namespace RichTextPage {

namespace {

// Reads the page the way Qt's rich-text parser does, quoted words and stray '<' included, so that
// both see the same tags.
class TagReader {
public:
    enum Kind { Text, Comment, StartTag, EndTag };

    explicit TagReader(QStringView html) : html_(html) {}

    bool atEnd() const { return pos_ >= html_.size(); }
    qsizetype position() const { return pos_; }

    // Moves past the next piece; a tag's lower-case name in `name`, and whether it ends in "/".
    Kind next(QString& name, bool& closed)
    {
        const qsizetype tag = html_.indexOf(u'<', pos_);
        if (tag != pos_) {
            pos_ = tag < 0 ? html_.size() : tag;
            return Text;
        }
        ++pos_;
        skipSpace();
        if (at(u'!')) {
            ++pos_;
            if (at(u'-') && at(u'-', 1)) {
                const qsizetype end = html_.indexOf(u"-->", pos_ + 2);
                pos_ = end < 0 ? html_.size() : end + 3;
            } else {
                skipPast(u'>');
            }
            return Comment;
        }
        if (at(u'/')) {
            ++pos_;
            name = word().toLower().trimmed();
            skipPast(u'>');
            return EndTag;
        }
        name = word().toLower();
        if (!atEnd() && html_[pos_].isSpace())
            skipAttributes();
        closed = false;
        for (; !atEnd() && html_[pos_] != u'>'; ++pos_)
            closed = closed || html_[pos_] == u'/';
        ++pos_;
        return StartTag;
    }

private:
    bool at(char16_t c, qsizetype ahead = 0) const { return pos_ + ahead < html_.size() && html_[pos_ + ahead] == c; }

    void skipSpace()
    {
        while (!atEnd() && html_[pos_].isSpace())
            ++pos_;
    }

    void skipPast(char16_t c)
    {
        while (!atEnd() && html_[pos_++] != c) {
        }
    }

    QString word()
    {
        QString out;
        if (at(u'"')) {
            ++pos_;
            while (!atEnd() && html_[pos_] != u'"')
                out += html_[pos_++];
            ++pos_;
        } else if (at(u'\'')) {
            // A quote after a backslash does not end the word.
            for (++pos_; !atEnd(); ++pos_) {
                if (html_[pos_] == u'\'' && html_[pos_ - 1] != u'\\') {
                    ++pos_;
                    break;
                }
                out += html_[pos_];
            }
        } else {
            for (; !atEnd(); ++pos_) {
                const QChar c = html_[pos_];
                if (c == u'>' || (c == u'/' && at(u'>', 1)) || c == u'<' || c == u'=' || c.isSpace())
                    break;
                out += c;
            }
        }
        return out;
    }

    void skipAttributes()
    {
        while (!atEnd()) {
            skipSpace();
            if (at(u'>') || at(u'/') || word().isEmpty())
                return;
            skipSpace();
            if (at(u'=')) {
                ++pos_;
                skipSpace();
                word();
            }
        }
    }

    QStringView html_;
    qsizetype pos_ = 0;
};

// The names the parser treats apart, interned first: up to Body those with a rule for their place.
enum Name : int { P, Li, Dd, Dt, Tr, Td, Th, Thead, Tbody, Tfoot, Caption, Body, Dl, Table, Head, Img, Hr, Br, Meta, Link };

// The elements the parser would hold open, deepest last, each marked kept (handed to the parser) or
// left out; those left out all lie above those kept. It follows the parser's rules for where a new
// element goes, except that an inline element does not end before a paragraph: that keeps more open.
class OpenElements {
public:
    OpenElements()
    {
        for (const char* name : {"p", "li", "dd", "dt", "tr", "td", "th", "thead", "tbody", "tfoot", "caption", "body",
                                 "dl", "table", "head", "img", "hr", "br", "meta", "link"})
            idOf(QString::fromLatin1(name));
    }

    int idOf(const QString& name)
    {
        const auto it = ids_.constFind(name);
        if (it != ids_.constEnd())
            return it.value();
        openCount_.push_back(0);
        return ids_.insert(name, int(ids_.size())).value();
    }

    // Whether the start tag reaches the parser.
    bool start(int name, bool closed)
    {
        // The parser would hide all that follows a style sheet link, whose sheet is never loaded.
        if (name == Link)
            return false;
        int inserted[2];
        int insertions = 0;
        // A cell outside a row, or a row outside a table, gets the row and table the parser adds.
        if ((name == Td || name == Th) && openCount_[Tr] == 0) {
            inserted[insertions++] = Table;
            inserted[insertions++] = Tr;
        } else if (name == Tr && openCount_[Table] == 0) {
            inserted[insertions++] = Table;
        } else {
            if ((name == P || name == Li) && !open_.empty() && open_.back().name == name)
                pop();
            while (!open_.empty() && !allowedIn(name, open_.back().name))
                pop();
        }
        const bool opens = !closed && name != Img && name != Hr && name != Br && name != Meta;
        // Nothing else of a plain empty element is open: it reaches the parser wherever it stands.
        if (!opens && insertions == 0 && !hasPlacementRule(name))
            return true;
        const bool kept = open_.size() == size_t(keptDepth_) && keptDepth_ + insertions + 1 <= MaxNesting;
        for (int i = 0; i < insertions; ++i)
            push(inserted[i], kept);
        if (opens)
            push(name, kept);
        return kept;
    }

    // Whether the end tag reaches the parser: it ends the deepest open element of its name, if any.
    bool end(const QString& name)
    {
        const auto it = ids_.constFind(name);
        if (it == ids_.constEnd() || openCount_[it.value()] == 0)
            return true;
        for (;;) {
            const Open last = open_.back();
            pop();
            if (last.name == it.value())
                return last.kept;
        }
    }

private:
    struct Open {
        int name;
        bool kept;
    };

    static bool allowedIn(int name, int parent)
    {
        switch (name) {
        case Dd:
            return parent == Dt || parent == Dl;
        case Dt:
            return parent == Dl;
        case Tr:
            return parent == Table || parent == Thead || parent == Tbody || parent == Tfoot;
        case Td:
        case Th:
            return parent == Tr;
        case Thead:
        case Tbody:
        case Tfoot:
        case Caption:
            return parent == Table;
        case Body:
            return parent != Head;
        default:
            return true;
        }
    }

    static bool hasPlacementRule(int name) { return name <= Body; }

    void push(int name, bool kept)
    {
        open_.push_back({name, kept});
        ++openCount_[name];
        keptDepth_ += kept;
    }

    void pop()
    {
        --openCount_[open_.back().name];
        keptDepth_ -= open_.back().kept;
        open_.pop_back();
    }

    QHash<QString, int> ids_;
    std::vector<int> openCount_;
    std::vector<Open> open_;
    int keptDepth_ = 0;
};

} // namespace

QString withNestingCapped(const QString& html)
{
    OpenElements open;
    TagReader reader(html);
    QString out;
    qsizetype copied = 0;
    QString name;
    bool closed = false;
    while (!reader.atEnd()) {
        const qsizetype at = reader.position();
        const TagReader::Kind kind = reader.next(name, closed);
        // A tag without a name never holds anything, nor ends anything.
        const bool named = (kind == TagReader::StartTag || kind == TagReader::EndTag) && !name.isEmpty();
        const bool reaches = !named                         ? true
                             : kind == TagReader::StartTag ? open.start(open.idOf(name), closed)
                                                           : open.end(name);
        if (!reaches) {
            out += QStringView(html).mid(copied, at - copied);
            copied = reader.position();
        }
    }
    if (copied == 0)
        return html;
    out += QStringView(html).mid(copied);
    return out;
}

void limitIndentation(QTextDocument& document, double maxIndent)
{
    const double step = document.indentWidth();
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        double listIndent = 0;
        if (QTextList* list = block.textList()) {
            QTextListFormat format = list->format();
            if (format.indent() * step > maxIndent) {
                format.setIndent(int(maxIndent / step));
                list->setFormat(format);
            }
            listIndent = format.indent() * step;
        }
        QTextBlockFormat format = block.blockFormat();
        const double room = std::max(maxIndent - listIndent - format.indent() * step, 0.0);
        if (format.leftMargin() + format.rightMargin() > room) {
            format.setLeftMargin(std::min(format.leftMargin(), room));
            format.setRightMargin(room - format.leftMargin());
            QTextCursor(block).setBlockFormat(format);
        }
    }
}

void showImagesAsText(QTextDocument& document)
{
    struct Image {
        int position;
        QString text;
        QTextCharFormat format;
    };
    std::vector<Image> images;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat())
                continue;
            QTextCharFormat format = fragment.charFormat();
            const QString alt = format.stringProperty(QTextFormat::ImageAltText);
            for (const int property : {int(QTextFormat::ObjectType), int(QTextFormat::ImageName), int(QTextFormat::ImageWidth),
                                       int(QTextFormat::ImageHeight), int(QTextFormat::ImageAltText), int(QTextFormat::ImageTitle)})
                format.clearProperty(property);
            // Equal images side by side share one fragment, one character each.
            for (int i = 0; i < fragment.length(); ++i)
                images.push_back({fragment.position() + i, alt, format});
        }
    }
    QTextCursor cursor(&document);
    for (auto it = images.rbegin(); it != images.rend(); ++it) {
        cursor.setPosition(it->position);
        cursor.setPosition(it->position + 1, QTextCursor::KeepAnchor);
        cursor.insertText(it->text, it->format);
    }
}

} // namespace RichTextPage
