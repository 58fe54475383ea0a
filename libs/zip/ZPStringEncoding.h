#pragma once

#include <QString>

#include <cstddef>
#include <optional>
#include <span>

// Encodings of entry names that do not carry the UTF-8 flag.
enum class ZPStringEncoding { UTF8, Latin1, CP437 };

namespace ZPStrings {

// The text of bytes in the encoding; nothing when they are invalid in it.
std::optional<QString> decode(std::span<const std::byte> bytes, ZPStringEncoding encoding);

} // namespace ZPStrings
