#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace melofon::store {

// Text conversion between QString and one of the code pages a dBASE table may be
// written in. glibc's iconv does the work; we only name the code page.
class CodePage {
public:
    // `name` is an iconv name such as "UTF-8", "CP850", "CP1252".
    explicit CodePage(QByteArray name);

    // The code page a `.cpg` sidecar file names ("UTF-8", "1252", "ANSI 1252", "OEM 850",
    // "CP437", "windows-1252", ...), or nothing when iconv does not know it.
    static std::optional<CodePage> fromCpgText(const QByteArray& cpgText);
    // The code page of a dBASE language driver id (header byte 29), or nothing when the
    // id is not one we know. 0 means the OEM code page 850.
    static std::optional<CodePage> fromLanguageDriver(unsigned char ldid);

    const QByteArray& name() const { return name_; }
    bool isUtf8() const { return utf8_; }

    // Lenient: a byte the code page does not define becomes U+FFFD.
    QString decode(const char* data, qsizetype size) const;
    // Strict: nothing when a character cannot be represented.
    std::optional<QByteArray> encode(const QString& text) const;

private:
    struct Converters;
    QByteArray name_;
    bool utf8_ = false;
    // Opened on first use and shared by copies: opening a converter costs more than
    // converting a path.
    std::shared_ptr<Converters> converters_;
};

} // namespace melofon::store
