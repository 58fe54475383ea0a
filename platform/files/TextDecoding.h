#pragma once

#include "Error.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Reading text files of unknown encoding. Detection: a byte-order mark wins;
// then UTF-32 or UTF-16 only where the bytes show the pattern of such text
// (zero bytes in the high half of many code units, no control characters),
// never just because the length is even; then strict UTF-8 (invalid and
// overlong sequences and encoded surrogates are refused); then UTF-8 with a
// few invalid bytes among well-formed multi-byte characters, those bytes read
// as U+FFFD (so a stray byte never turns the rest into mojibake); then
// Windows-1252, which refuses its five undefined bytes. Bytes no step accepts
// are an error.
// The wide patterns come before UTF-8 only because "a\0b\0" is well-formed
// UTF-8 as well; text without zero bytes never shows them.
namespace TextDecoding {

// UTF8WithReplacements: UTF-8 whose invalid bytes became U+FFFD, so the text
// no longer encodes back to the file's bytes.
enum class Encoding { UTF8, UTF16LE, UTF16BE, UTF32LE, UTF32BE, Windows1252, ASCII, UTF8WithReplacements };

bool decode(const QByteArray& bytes, QString* text, Encoding* used = nullptr, Error* error = nullptr);

// Strict decoding in one given encoding, for callers that try encodings in an
// order of their own. A byte-order mark of that same encoding is skipped.
bool decodeAs(const QByteArray& bytes, Encoding encoding, QString* text, Error* error = nullptr);

// The encoding a byte-order mark at the start of the bytes names (UTF-8, UTF-16 or UTF-32), if any.
std::optional<Encoding> markedEncoding(QByteArrayView head);

} // namespace TextDecoding
