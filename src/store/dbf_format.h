#pragma once

// The byte layout of a dBASE III table file and the system calls that reach it, shared
// by the parts of DbfTable. Not for use outside the store.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace melofon::store::dbf {

constexpr unsigned char kEndOfFile = 0x1A;
constexpr unsigned char kHeaderEnd = 0x0D;
constexpr std::uint32_t kPrefixSize = 32;
constexpr std::uint32_t kDescriptorSize = 32;

inline std::uint32_t le16(const unsigned char* p) { return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8; }
inline std::uint32_t le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
inline void putLe16(char* p, std::uint32_t v) {
    p[0] = char(v & 0xFF);
    p[1] = char((v >> 8) & 0xFF);
}
inline void putLe32(char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}

inline bool isPad(char c) { return c == ' ' || c == '\0'; }
// A numeric field's bytes as a number; NaN when empty, '*'-filled or not a number.
double parseNumber(const char* p, std::size_t size);

// FNV-1a, to tell whether a file still holds the records a journal names.
constexpr std::uint64_t kDigestStart = 14695981039346656037ull;
inline std::uint64_t digest(std::uint64_t h, const char* p, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        h = (h ^ std::uint8_t(p[i])) * 1099511628211ull;
    return h;
}

// Reads (writes) exactly `size` bytes at `offset`; false on a short read (write).
bool preadFully(int fd, void* buffer, std::size_t size, std::int64_t offset);
bool pwriteFully(int fd, const char* data, std::size_t size, std::int64_t offset);

QString systemError(int err);
// Why a write failed, in the user's words.
QString writeError(int err);
QString displayName(const QString& path);
// The file in `dir` whose name equals `fileName` ignoring letter case.
QString findCaseInsensitive(const QString& dir, const QString& fileName);
// The .cpg file beside a table, whatever its letter case; empty when there is none.
QString sidecarPath(const QString& tablePath);
// Today's date as the header keeps it: years since 1900, month, day.
QByteArray headerDate();

} // namespace melofon::store::dbf
