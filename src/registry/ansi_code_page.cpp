#include "registry/ansi_code_page.h"

namespace melofon::registry {

namespace {

// Bytes 0x80 to 0x9F; every other byte is the character of the same value.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char32_t kInvalid = 0xFFFFFFFF;

char16_t decodeByte(unsigned char b) {
    return b >= 0x80 && b <= 0x9F ? kHighControls[b - 0x80] : char16_t(b);
}

std::optional<char> encodeChar(char32_t c) {
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == c)
            return char(0x80 + i);
    }
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return char(c);
    return std::nullopt;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// The character at `i`, moving `i` past it; kInvalid for a byte that starts no well-formed
// sequence (overlong forms and surrogates included), which then counts as one character.
char32_t nextChar(std::string_view s, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    const int extra = lead >= 0xC2 && lead <= 0xDF   ? 1
                      : lead >= 0xE0 && lead <= 0xEF ? 2
                      : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                     : 0;
    if (extra == 0 || i + std::size_t(extra) >= s.size()) {
        ++i;
        return kInvalid;
    }
    char32_t c = lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        if ((byte(i + std::size_t(k)) & 0xC0) != 0x80) {
            ++i;
            return kInvalid;
        }
        c = (c << 6) | (byte(i + std::size_t(k)) & 0x3F);
    }
    constexpr char32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return kInvalid;
    }
    i += std::size_t(extra) + 1;
    return c;
}

char16_t upperChar(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return char16_t(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    if (c == 0xB5)
        return 0x39C;
    if (c == 0x192)
        return 0x191;
    // Latin Extended-A pairs capital and small letters, the small one second.
    const bool oddSmall = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    const bool evenSmall = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((oddSmall && c % 2 == 1) || (evenSmall && c % 2 == 0))
        return char16_t(c - 1);
    if (c == 0x131) // dotless i
        return u'I';
    if (c == 0x17F) // long s
        return u'S';
    return c;
}

} // namespace

std::string fromAnsi(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size());
    for (char b : ansi)
        appendUtf8(out, decodeByte(static_cast<unsigned char>(b)));
    return out;
}

std::optional<std::string> toAnsi(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const std::optional<char> b = encodeChar(nextChar(utf8, i));
        if (!b)
            return std::nullopt;
        out += *b;
    }
    return out;
}

std::string toAnsiLossy(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();)
        out += encodeChar(nextChar(utf8, i)).value_or('?');
    return out;
}

std::u16string upperAnsi(std::string_view ansi) {
    std::u16string out(ansi.size(), u'\0');
    for (std::size_t i = 0; i < ansi.size(); ++i)
        out[i] = upperChar(decodeByte(static_cast<unsigned char>(ansi[i])));
    return out;
}

std::u16string upperUtf8(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const char32_t c = nextChar(utf8, i);
        if (c == kInvalid) {
            out += u'\xFFFD';
        } else if (c > 0xFFFF) {
            out += char16_t(0xD800 + ((c - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += upperChar(char16_t(c));
        }
    }
    return out;
}

} // namespace melofon::registry
