#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace melofon::registry {

// Code page 1252, the ANSI code page text crosses the registry functions in; the class
// above works in UTF-8. Every byte has a character (the five bytes the code page leaves
// undefined map to the C1 controls of the same value, as the platform's converter does),
// so decoding and re-encoding a buffer gives back the same bytes.
std::string fromAnsi(std::string_view ansi);

// Nothing when a character has no byte in the code page, or the text is not UTF-8.
std::optional<std::string> toAnsi(std::string_view utf8);
// For buffers handed to a function to fill: one byte a character, '?' for a character
// (or a stray byte) without one, so a buffer keeps its length in characters.
std::string toAnsiLossy(std::string_view utf8);

// Names compare and sort in this form: each character upper-cased alone, as UTF-16 units.
// Covers every character the code page holds (and the rest of Latin-1 and Latin
// Extended-A); others compare as they are.
std::u16string upperAnsi(std::string_view ansi);
std::u16string upperUtf8(std::string_view utf8);

} // namespace melofon::registry
