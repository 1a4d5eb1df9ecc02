#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace melofon::registry {

// Code page 1252, the ANSI code page text crosses the registry functions in. Every byte
// has a character (the five bytes the code page leaves undefined map to the C1 controls
// of the same value, as the platform's converter does), so decoding and re-encoding a
// buffer gives back the same bytes.
QString fromAnsi(const char* data, qsizetype size);
inline QString fromAnsi(const QByteArray& bytes) {
    return fromAnsi(bytes.constData(), bytes.size());
}

// Nothing when a character has no byte in the code page.
std::optional<QByteArray> toAnsi(const QString& text);
// For buffers handed to a function to fill: a character without a byte becomes '?'.
QByteArray toAnsiLossy(const QString& text);

// The form registry names are compared and sorted in: each character upper-cased alone.
QString upperName(const char* name, qsizetype size);

} // namespace melofon::registry
