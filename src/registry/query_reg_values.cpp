#include "registry/query_reg_values.h"

#include "registry/ansi_code_page.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace melofon::registry::detail {

bool contains(std::string_view s, std::string_view part) {
    return s.find(part) != std::string_view::npos;
}

std::optional<std::string> ansiName(std::string_view name) {
    if (contains(name, std::string_view("\0", 1)))
        return std::nullopt;
    return toAnsi(name);
}

std::string textOf(std::string_view data) {
    if (!data.empty() && data.back() == '\0')
        data.remove_suffix(1);
    return fromAnsi(data);
}

std::int32_t numberOf(std::string_view data) {
    std::uint32_t n = 0;
    for (std::size_t i = std::min<std::size_t>(data.size(), 4); i-- > 0;)
        n = (n << 8) | static_cast<unsigned char>(data[i]);
    return std::int32_t(n);
}

std::string dwordText(std::int32_t n) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%08X (%d)", unsigned(std::uint32_t(n)), int(n));
    return text;
}

std::string hexText(std::string_view bytes, bool twoDigits) {
    std::string out;
    for (char b : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, twoDigits ? "%02X" : "%X",
                      unsigned(static_cast<unsigned char>(b)));
        out += digits;
        out += ' ';
    }
    return out;
}

std::string trimSpaces(std::string_view s) {
    const std::size_t begin = s.find_first_not_of(' ');
    if (begin == std::string_view::npos)
        return {};
    return std::string(s.substr(begin, s.find_last_not_of(' ') + 1 - begin));
}

std::optional<std::int32_t> parseNumber(std::string_view s) {
    constexpr std::string_view blanks = " \t\n\v\f\r";
    const std::size_t begin = s.find_first_not_of(blanks);
    if (begin == std::string_view::npos)
        return std::nullopt;
    s = s.substr(begin, s.find_last_not_of(blanks) + 1 - begin);
    if (s.size() > 1 && s.front() == '+' && s[1] != '-')
        s.remove_prefix(1);
    std::int32_t n = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (error != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return n;
}

bool sameName(std::string_view a, std::string_view b) {
    return upperUtf8(a) == upperUtf8(b);
}

BYTE* asBytes(std::string& buffer) {
    return reinterpret_cast<BYTE*>(buffer.data());
}

std::string valueText(const Value& v) {
    if (const auto* s = std::get_if<std::string>(&v))
        return *s;
    if (const auto* n = std::get_if<std::int32_t>(&v))
        return std::to_string(*n);
    return {};
}

Bytes withTrailingZero(std::string_view data) {
    Bytes out(data.begin(), data.end());
    out.push_back(0);
    return out;
}

} // namespace melofon::registry::detail
