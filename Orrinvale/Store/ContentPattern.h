#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>
#include <vector>

class SLDatabase;

// A LIKE pattern of "%" and plain ASCII text, matched exactly as SQLite's LIKE
// matches it (ASCII letters in either case, text read up to its first NUL),
// but straight from the row: LIKE copies every row's text to end it with a NUL,
// and steps through it a character at a time.
class ContentPattern {
public:
    // The SQL function (text, pattern) that answers 1 when the text matches.
    static const QString FunctionName;

    // Null for a pattern only LIKE itself matches alike: one with "_", a byte
    // outside ASCII, or a long one.
    static std::optional<ContentPattern> parse(const QByteArray& pattern);
    bool matches(const char* text, size_t size) const;

    // Registers the function on the connection once.
    static void registerOn(SLDatabase& db);

private:
    // Pieces between the "%"s, in lower case, with a mask per byte that
    // folds a letter of the text to lower case and leaves any other byte.
    struct Piece {
        std::string lower;
        std::string fold;
    };
    const char* find(const char* at, const char* end, const Piece& piece) const;
    bool matchesUpTo(const char* text, const char* end, const char** matchEnd) const;

    std::vector<Piece> pieces_;
};
