#pragma once
// Helpers for the zero-terminated UTF-8 texts of fixed-size record fields.

#include <cstddef>
#include <string>
#include <string_view>

#include "common/bytes.h"

namespace vandry {

// The longest prefix of `text` of at most `maxBytes` bytes that does not split a UTF-8 sequence.
std::string_view utf8Prefix(std::string_view text, std::size_t maxBytes);

// Reads a zero-terminated text from a fixed field; a field without a zero yields all its bytes.
std::string fixedFieldText(ByteSpan field);

// Writes `text` into a zero-filled field of `field.size()` bytes, cut on a character boundary so
// that at least one zero byte remains.
void storeFixedFieldText(MutableByteSpan field, std::string_view text);

// `text` with every byte that does not belong to a well-formed UTF-8 character replaced by U+FFFD,
// for texts from another machine that are shown or used as names.
std::string validUtf8(std::string_view text);

// `text` with control characters (C0, DEL and, in UTF-8, C1) written as "\xHH" or "\u00HH", for
// texts from another machine that go into a log line or onto a terminal, where they could forge
// lines or drive the terminal.
std::string escapeControlCharacters(std::string_view text);

// Case-insensitive comparison of ASCII letters; other bytes (UTF-8 sequences) compare exactly.
bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b);

} // namespace vandry
