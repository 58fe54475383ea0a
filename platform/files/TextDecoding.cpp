#include "TextDecoding.h"

#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace TextDecoding {

namespace {

const char* const CocoaErrorDomain = "NSCocoaErrorDomain";
constexpr int InapplicableEncodingError = 261;
constexpr int UnknownEncodingError = 264;

QString encodingName(Encoding encoding)
{
    switch (encoding) {
    case Encoding::UTF8: return QStringLiteral("UTF-8");
    case Encoding::UTF16LE: return QStringLiteral("UTF-16LE");
    case Encoding::UTF16BE: return QStringLiteral("UTF-16BE");
    case Encoding::UTF32LE: return QStringLiteral("UTF-32LE");
    case Encoding::UTF32BE: return QStringLiteral("UTF-32BE");
    case Encoding::Windows1252: return QStringLiteral("Windows-1252");
    case Encoding::ASCII: return QStringLiteral("ASCII");
    case Encoding::UTF8WithReplacements: return QStringLiteral("UTF-8 with invalid bytes");
    }
    return {};
}

struct Mark {
    Encoding encoding;
    QByteArray bytes;
};

// Longest first: the UTF-32LE mark begins with the UTF-16LE one.
const std::array<Mark, 5>& marks()
{
    static const std::array<Mark, 5> table{{
        {Encoding::UTF32LE, QByteArray("\xFF\xFE\x00\x00", 4)},
        {Encoding::UTF32BE, QByteArray("\x00\x00\xFE\xFF", 4)},
        {Encoding::UTF8, QByteArray("\xEF\xBB\xBF", 3)},
        {Encoding::UTF16LE, QByteArray("\xFF\xFE", 2)},
        {Encoding::UTF16BE, QByteArray("\xFE\xFF", 2)},
    }};
    return table;
}

// Length of the well-formed UTF-8 sequence at p (Unicode's definition: no
// overlong forms, no encoded surrogates, nothing above U+10FFFF), or 0.
int sequenceLength(const uint8_t* p, const uint8_t* end)
{
    const uint8_t lead = *p;
    int length = 1;
    uint8_t low = 0x80, high = 0xBF; // range of the second byte
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (end - p < length || p[1] < low || p[1] > high)
        return 0;
    for (int i = 2; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

struct UTF8Census {
    qsizetype multiByte = 0; // well-formed characters of two bytes or more
    qsizetype invalid = 0;   // bytes that start no well-formed character
};

// Whether the eight bytes at p are all ASCII.
bool isASCIIWord(const uint8_t* p)
{
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return (word & 0x8080808080808080u) == 0;
}

UTF8Census utf8Census(const QByteArray& bytes)
{
    UTF8Census census;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData());
    const auto* end = p + bytes.size();
    while (p < end) {
        // Most notes are mostly ASCII: a word of it at a time.
        if (end - p >= 8 && isASCIIWord(p)) {
            p += 8;
            continue;
        }
        const int length = sequenceLength(p, end);
        if (length == 0) {
            ++census.invalid;
            ++p;
            continue;
        }
        census.multiByte += length > 1;
        p += length;
    }
    return census;
}

bool isStrictUTF8(const QByteArray& bytes)
{
    return utf8Census(bytes).invalid == 0;
}

// UTF-8 but for a few stray bytes: well-formed multi-byte characters show the
// encoding, and the invalid bytes are few beside them. Legacy text with
// accented letters has almost no well-formed sequences, so it stays legacy.
bool isMostlyUTF8(const QByteArray& bytes)
{
    constexpr qsizetype FewInvalidBytes = 4;
    const UTF8Census census = utf8Census(bytes);
    return census.multiByte > 0 && census.invalid <= std::max(census.multiByte, FewInvalidBytes);
}

uint32_t unitAt(const uint8_t* p, int width, bool littleEndian)
{
    uint32_t unit = 0;
    for (int i = 0; i < width; ++i)
        unit |= uint32_t(p[littleEndian ? i : width - 1 - i]) << (8 * i);
    return unit;
}

bool decodeUTF16(const QByteArray& bytes, bool littleEndian, QString* text)
{
    if (bytes.size() % 2 != 0)
        return false;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData());
    const qsizetype count = bytes.size() / 2;
    QString result(count, Qt::Uninitialized);
    QChar* out = result.data();
    for (qsizetype i = 0; i < count; ++i) {
        const auto unit = char16_t(unitAt(p + 2 * i, 2, littleEndian));
        if (QChar::isHighSurrogate(unit)) {
            if (i + 1 == count || !QChar::isLowSurrogate(char16_t(unitAt(p + 2 * (i + 1), 2, littleEndian))))
                return false;
        } else if (QChar::isLowSurrogate(unit) && (i == 0 || !QChar::isHighSurrogate(out[i - 1].unicode()))) {
            return false;
        }
        out[i] = QChar(unit);
    }
    *text = result;
    return true;
}

bool decodeUTF32(const QByteArray& bytes, bool littleEndian, QString* text)
{
    if (bytes.size() % 4 != 0)
        return false;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData());
    QString result;
    result.reserve(bytes.size() / 4);
    for (qsizetype i = 0; i < bytes.size(); i += 4) {
        const char32_t scalar = unitAt(p + i, 4, littleEndian);
        if (scalar > 0x10FFFF || QChar::isSurrogate(scalar))
            return false;
        if (QChar::requiresSurrogates(scalar)) {
            result.append(QChar(QChar::highSurrogate(scalar)));
            result.append(QChar(QChar::lowSurrogate(scalar)));
        } else {
            result.append(QChar(char16_t(scalar)));
        }
    }
    *text = result;
    return true;
}

bool decodeWindows1252(const QByteArray& bytes, QString* text)
{
    // 0x80..0x9F; 0 marks the five bytes the code page leaves undefined.
    static constexpr char16_t high[32] = {
        0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
        0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
    };
    QString result(bytes.size(), Qt::Uninitialized);
    QChar* out = result.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = uint8_t(bytes[i]);
        char16_t unit = byte;
        if (byte >= 0x80 && byte <= 0x9F) {
            unit = high[byte - 0x80];
            if (unit == 0)
                return false;
        }
        out[i] = QChar(unit);
    }
    *text = result;
    return true;
}

bool decodeStrict(const QByteArray& bytes, Encoding encoding, QString* text)
{
    switch (encoding) {
    case Encoding::UTF8:
        if (!isStrictUTF8(bytes))
            return false;
        // The caller took off the one mark; a second U+FEFF is text.
        *text = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom)(bytes);
        return true;
    case Encoding::UTF16LE: return decodeUTF16(bytes, true, text);
    case Encoding::UTF16BE: return decodeUTF16(bytes, false, text);
    case Encoding::UTF32LE: return decodeUTF32(bytes, true, text);
    case Encoding::UTF32BE: return decodeUTF32(bytes, false, text);
    case Encoding::Windows1252: return decodeWindows1252(bytes, text);
    case Encoding::UTF8WithReplacements:
        // The decoder drops a leading mark and turns each invalid byte into U+FFFD.
        *text = QStringDecoder(QStringDecoder::Utf8)(bytes);
        return true;
    case Encoding::ASCII:
        for (const char byte : bytes) {
            if (uint8_t(byte) >= 0x80)
                return false;
        }
        *text = QString::fromLatin1(bytes);
        return true;
    }
    return false;
}

// Text as people write it: no NUL or other control characters besides tab,
// line and page breaks, no noncharacters.
bool looksLikeText(const QString& text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t' && u != u'\n' && u != u'\v' && u != u'\f' && u != u'\r') || u == 0xFFFE || u == 0xFFFF)
            return false;
    }
    return true;
}

// Wide text shows itself by zero bytes in the high half of its code units:
// every UTF-32 unit has at least one, and a quarter or more of the UTF-16
// units do (the Latin, punctuation and line breaks of almost any text) while
// hardly any low half is zero. A byte string merely of even length is not
// UTF-16.
bool showsWidePattern(const QByteArray& bytes, Encoding encoding, QString* text)
{
    if (bytes.isEmpty() || !decodeStrict(bytes, encoding, text) || !looksLikeText(*text))
        return false;
    if (encoding == Encoding::UTF32LE || encoding == Encoding::UTF32BE)
        return true;
    const int highByte = encoding == Encoding::UTF16LE ? 1 : 0;
    qsizetype zeroHigh = 0, zeroLow = 0;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        zeroHigh += bytes[i + highByte] == 0;
        zeroLow += bytes[i + 1 - highByte] == 0;
    }
    const qsizetype units = bytes.size() / 2;
    return zeroHigh * 4 >= units && zeroLow * 4 < zeroHigh;
}

} // namespace

std::optional<Encoding> markedEncoding(QByteArrayView head)
{
    for (const Mark& mark : marks())
        if (head.startsWith(mark.bytes))
            return mark.encoding;
    return std::nullopt;
}

bool decodeAs(const QByteArray& bytes, Encoding encoding, QString* text, Error* error)
{
    QByteArray body = bytes;
    for (const Mark& mark : marks()) {
        if (mark.encoding == encoding && bytes.startsWith(mark.bytes)) {
            body = bytes.mid(mark.bytes.size());
            break;
        }
    }
    QString result;
    if (!decodeStrict(body, encoding, &result)) {
        setError(error, Error::make(QString::fromLatin1(CocoaErrorDomain), InapplicableEncodingError,
                                    QStringLiteral("The contents are not valid %1 text.").arg(encodingName(encoding))));
        return false;
    }
    if (text)
        *text = result;
    return true;
}

bool decode(const QByteArray& bytes, QString* text, Encoding* used, Error* error)
{
    QString result;
    const auto accept = [&](Encoding encoding) {
        if (text)
            *text = result;
        if (used)
            *used = encoding;
        return true;
    };
    for (const Mark& mark : marks()) {
        if (bytes.startsWith(mark.bytes) && decodeStrict(bytes.mid(mark.bytes.size()), mark.encoding, &result))
            return accept(mark.encoding);
    }
    // Wide text before UTF-8: "a\0b\0" is well-formed UTF-8 too, with NULs.
    // Without a zero byte there is no wide pattern, and no UTF-32 unit.
    const bool mayBeWide = bytes.contains('\0');
    for (const Encoding wide : {Encoding::UTF32LE, Encoding::UTF32BE, Encoding::UTF16LE, Encoding::UTF16BE}) {
        if (mayBeWide && showsWidePattern(bytes, wide, &result))
            return accept(wide);
    }
    if (decodeStrict(bytes, Encoding::UTF8, &result))
        return accept(Encoding::UTF8);
    if (isMostlyUTF8(bytes) && decodeStrict(bytes, Encoding::UTF8WithReplacements, &result))
        return accept(Encoding::UTF8WithReplacements);
    if (decodeStrict(bytes, Encoding::Windows1252, &result))
        return accept(Encoding::Windows1252);
    setError(error, Error::make(QString::fromLatin1(CocoaErrorDomain), UnknownEncodingError,
                                QStringLiteral("The text encoding of the contents cannot be determined.")));
    return false;
}

} // namespace TextDecoding
