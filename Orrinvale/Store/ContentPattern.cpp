#include "ContentPattern.h"

#include "SLDatabase.h"

#include <sqlite3.h>

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Longer patterns are left to LIKE, which also enforces its own length limit.
constexpr qsizetype MaximumPatternBytes = 1000;

bool isAsciiLetter(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

void deletePattern(void* pattern) { delete static_cast<ContentPattern*>(pattern); }

} // namespace

const QString ContentPattern::FunctionName = QStringLiteral("notecontains");

std::optional<ContentPattern> ContentPattern::parse(const QByteArray& pattern)
{
    if (pattern.size() > MaximumPatternBytes)
        return std::nullopt;
    ContentPattern parsed;
    for (const QByteArray& text : pattern.split('%')) {
        if (text.isEmpty())
            continue;
        Piece piece;
        for (const char c : text) {
            if (c == '_' || static_cast<unsigned char>(c) >= 0x80 || c == 0)
                return std::nullopt;
            piece.lower += isAsciiLetter(c) ? char(c | 0x20) : c;
            piece.fold += isAsciiLetter(c) ? char(0x20) : char(0);
        }
        parsed.pieces_.push_back(std::move(piece));
    }
    return parsed;
}

// The first place at or after at where the piece starts, ends before end.
const char* ContentPattern::find(const char* at, const char* end, const Piece& piece) const
{
    const size_t n = piece.lower.size();
    if (size_t(end - at) < n)
        return nullptr;
    const char* const last = end - n;
    const auto equalAt = [&](const char* p) {
        for (size_t k = 0; k < n; ++k) {
            if (char(p[k] | piece.fold[k]) != piece.lower[k])
                return false;
        }
        return true;
    };
#ifdef __SSE2__
    // Sixteen starts at once: the places whose first and last bytes fit.
    const __m128i firstFold = _mm_set1_epi8(piece.fold.front());
    const __m128i firstByte = _mm_set1_epi8(piece.lower.front());
    const __m128i lastFold = _mm_set1_epi8(piece.fold.back());
    const __m128i lastByte = _mm_set1_epi8(piece.lower.back());
    for (; last - at >= 15; at += 16) {
        const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + n - 1));
        unsigned bits = unsigned(_mm_movemask_epi8(_mm_and_si128(
            _mm_cmpeq_epi8(_mm_or_si128(head, firstFold), firstByte),
            _mm_cmpeq_epi8(_mm_or_si128(tail, lastFold), lastByte))));
        for (; bits; bits &= bits - 1) {
            const char* candidate = at + __builtin_ctz(bits);
            if (equalAt(candidate))
                return candidate;
        }
    }
#endif
    for (; at <= last; ++at) {
        if (equalAt(at))
            return at;
    }
    return nullptr;
}

bool ContentPattern::matchesUpTo(const char* text, const char* end, const char** matchEnd) const
{
    const char* at = text;
    for (const Piece& piece : pieces_) {
        at = find(at, end, piece);
        if (!at)
            return false;
        at += piece.lower.size();
    }
    *matchEnd = at;
    return true;
}

bool ContentPattern::matches(const char* text, size_t size) const
{
    const char* matchEnd = text;
    if (!matchesUpTo(text, text + size, &matchEnd))
        return false;
    // LIKE sees the text up to its first NUL: a match past it does not count.
    if (!std::memchr(text, 0, size_t(matchEnd - text)))
        return true;
    return matchesUpTo(text, text + ::strnlen(text, size), &matchEnd);
}

void ContentPattern::registerOn(SLDatabase& db)
{
    if (db.hasFunctionNamed(FunctionName))
        return;
    db.makeFunctionNamed(FunctionName, 2, [](sqlite3_context* context, int, sqlite3_value** argv) {
        // A blob or NULL matches no LIKE pattern; numbers are read as their text.
        const int type = sqlite3_value_type(argv[0]);
        if (type == SQLITE_NULL || type == SQLITE_BLOB || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
            sqlite3_result_int(context, 0);
            return;
        }
        // Parsed once per statement: the pattern is a bound parameter.
        std::optional<ContentPattern> local;
        auto* pattern = static_cast<const ContentPattern*>(sqlite3_get_auxdata(context, 1));
        if (!pattern) {
            const auto* bytes = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
            local = parse(QByteArray(bytes, sqlite3_value_bytes(argv[1])));
            if (!local) {
                sqlite3_result_error(context, "notecontains: pattern needs LIKE", -1);
                return;
            }
            pattern = &*local;
            sqlite3_set_auxdata(context, 1, new ContentPattern(*local), deletePattern);
        }
        // The text's bytes as stored: no copy, no NUL added.
        const void* bytes = type == SQLITE_TEXT ? sqlite3_value_blob(argv[0]) : sqlite3_value_text(argv[0]);
        const int size = sqlite3_value_bytes(argv[0]);
        const char* text = bytes ? static_cast<const char*>(bytes) : "";
        sqlite3_result_int(context, pattern->matches(text, size_t(size)) ? 1 : 0);
    });
}
