#pragma once

// A seeded generator of synthetic notes for the Markdown reader's benchmark: the mix of lines a
// note-taker writes (headings, to-dos, lists, quotes, emphasis, links, URLs, e-mail, tags, CJK text,
// entities, inline HTML, code), so that every trigger of the inline scan is exercised.

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <random>

namespace MarkdownCorpus {

class Generator {
public:
    explicit Generator(uint32_t seed) : _random(seed) {}

    // Notes of about 1 to 12 KB of UTF-8 each until `totalBytes` is reached.
    QList<QByteArray> notes(qsizetype totalBytes)
    {
        QList<QByteArray> out;
        qsizetype total = 0;
        while (total < totalBytes) {
            QByteArray note = "# " + sentence(2, 6) + "\n\n";
            const qsizetype target = 1024 + pick(11 * 1024);
            while (note.size() < target)
                note += line() + "\n";
            total += note.size();
            out << note;
        }
        return out;
    }

private:
    qsizetype pick(qsizetype n) { return qsizetype(_random() % uint32_t(n)); }
    template <size_t N>
    QByteArray any(const char* const (&list)[N]) { return list[pick(N)]; }

    QByteArray word()
    {
        static const char* const words[] = {"note", "meeting", "plan", "idea", "the", "a", "and", "review", "draft",
                                            "budget", "travel", "to", "of", "release", "garden", "weekly", "read",
                                            "call", "design", "fix", "list", "with", "later", "today", "Monday"};
        static const char* const cjk[] = {"会议", "笔记", "计划", "東京", "ノート", "메모", "数据库", "日程"};
        switch (pick(40)) {
        case 0: return "*" + any(words) + "*";
        case 1: return "**" + any(words) + " " + any(words) + "**";
        case 2: return "_" + any(words) + "_";
        case 3: return "`" + any(words) + "()`";
        case 4: return "~~" + any(words) + "~~";
        case 5: return "#" + any(words) + QByteArray::number(pick(100));
        case 6: return "@" + any(words);
        case 7: return "https://example.org/" + any(words) + "/" + QByteArray::number(pick(10000)) + "?q=" + any(words);
        case 8: return any(words) + "." + any(words) + "@mail.example.com";
        case 9: return "[" + any(words) + " " + any(words) + "](http://example.net/" + any(words) + ")";
        case 10: return "&amp;";
        case 11: return "<b>" + any(words) + "</b>";
        case 12: case 13: case 14: return any(cjk);
        case 15: return "<https://example.com/" + any(words) + ">";
        case 16: return "![" + any(words) + "](img/" + any(words) + ".png)";
        case 17: return "snake_case_" + any(words);
        case 18: return "2*3";
        default: return any(words);
        }
    }

    QByteArray sentence(int least, int most)
    {
        QByteArray s;
        const int n = least + int(pick(most - least + 1));
        for (int i = 0; i < n; ++i) {
            if (i)
                s += ' ';
            s += word();
        }
        return s;
    }

    QByteArray line()
    {
        switch (pick(20)) {
        case 0: return "## " + sentence(1, 5);
        case 1: case 2: return "- [ ] " + sentence(2, 8);
        case 3: return "- [x] " + sentence(2, 8);
        case 4: case 5: return "- " + sentence(3, 12);
        case 6: return "  * " + sentence(3, 10);
        case 7: return QByteArray::number(1 + pick(20)) + ". " + sentence(3, 10);
        case 8: return "> " + sentence(5, 15);
        case 9: return "    let x = " + QByteArray::number(pick(1000)) + ";";
        case 10: return "";
        case 11: return "---";
        default: return sentence(6, 30);
        }
    }

    std::mt19937 _random;
};

}  // namespace MarkdownCorpus
