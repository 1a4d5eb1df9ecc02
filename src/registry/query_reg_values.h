#pragma once

// The texts and numbers of registry values as cQueryReg reads and writes them, shared by
// its parts. Not for use outside the registry class.

#include "registry/query_reg.h"

#include <optional>
#include <string>
#include <string_view>

namespace melofon::registry::detail {

bool contains(std::string_view s, std::string_view part);
// A key path or a name in the code page, or nothing when it cannot be: a character the
// code page lacks would reach the registry as '?', and a zero would cut the name short,
// so either could address another key than the one meant.
std::optional<std::string> ansiName(std::string_view name);
// A text value's characters. The stored zero is dropped; a value written without one
// keeps its last character.
std::string textOf(std::string_view data);
// The first four bytes, little-endian; a shorter value is padded with zeros.
std::int32_t numberOf(std::string_view data);
std::string dwordText(std::int32_t n);
std::string hexText(std::string_view bytes, bool twoDigits);
std::string trimSpaces(std::string_view s);
// A whole decimal number with an optional sign and blanks around it, as a 32-bit integer.
std::optional<std::int32_t> parseNumber(std::string_view s);
// Registry names match as the registry compares them: character by character, upper-cased.
bool sameName(std::string_view a, std::string_view b);
BYTE* asBytes(std::string& buffer);
std::string valueText(const Value& v);
// The data with the extra zero element byte arrays carry.
Bytes withTrailingZero(std::string_view data);

} // namespace melofon::registry::detail
