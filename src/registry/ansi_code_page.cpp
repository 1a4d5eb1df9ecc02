#include "registry/ansi_code_page.h"

namespace melofon::registry {

namespace {

// Bytes 0x80 to 0x9F; every other byte is the character of the same value.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t decodeByte(unsigned char b) {
    return b >= 0x80 && b <= 0x9F ? kHighControls[b - 0x80] : char16_t(b);
}

std::optional<char> encodeChar(char16_t c) {
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == c)
            return char(0x80 + i);
    }
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return char(c);
    return std::nullopt;
}

} // namespace

QString fromAnsi(const char* data, qsizetype size) {
    QString out(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        out[i] = QChar(decodeByte(static_cast<unsigned char>(data[i])));
    return out;
}

std::optional<QByteArray> toAnsi(const QString& text) {
    QByteArray out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const std::optional<char> b = encodeChar(text.at(i).unicode());
        if (!b)
            return std::nullopt;
        out[i] = *b;
    }
    return out;
}

QByteArray toAnsiLossy(const QString& text) {
    QByteArray out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = encodeChar(text.at(i).unicode()).value_or('?');
    return out;
}

QString upperName(const char* name, qsizetype size) {
    QString out = fromAnsi(name, size);
    for (QChar& c : out)
        c = c.toUpper();
    return out;
}

} // namespace melofon::registry
