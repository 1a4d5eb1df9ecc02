#include "store/code_page.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

namespace melofon::store {

namespace {

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using Iconv = std::unique_ptr<void, IconvCloser>;

Iconv openIconv(const QByteArray& to, const QByteArray& from) {
    iconv_t cd = iconv_open(to.constData(), from.constData());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return nullptr;
    return Iconv(cd);
}

// A dBASE field is padded with blanks and its numbers are ASCII digits: only a code page
// that keeps every printable ASCII character as its own single byte, both ways, can hold
// them (not UTF-16 or UTF-32, not UTF-7, whose '+' takes two bytes).
bool asciiCompatible(const QByteArray& name) {
    const Iconv to = openIconv(name, "UTF-8");
    const Iconv from = openIconv("UTF-8", name);
    if (!to || !from)
        return false;
    QByteArray ascii;
    for (char ch = ' '; ch <= '~'; ++ch)
        ascii += ch;
    for (const Iconv* cd : {&to, &from}) {
        QByteArray out(ascii.size() * 4 + 16, '\0');
        char* in = ascii.data();
        size_t inLeft = size_t(ascii.size());
        char* outPtr = out.data();
        size_t outLeft = size_t(out.size());
        if (iconv(static_cast<iconv_t>(cd->get()), &in, &inLeft, &outPtr, &outLeft) == size_t(-1) ||
            iconv(static_cast<iconv_t>(cd->get()), nullptr, nullptr, &outPtr, &outLeft) == size_t(-1))
            return false;
        out.truncate(out.size() - qsizetype(outLeft));
        if (out != ascii)
            return false;
    }
    return true;
}

// A code page name: letters, digits and the few marks names use. Anything else (a NUL,
// a "//" option, a second word) would be ignored or acted on by iconv unseen.
bool plainName(const QByteArray& name) {
    return !name.isEmpty() && std::all_of(name.begin(), name.end(), [](char ch) {
        return (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '-' || ch == '_' ||
               ch == '.' || ch == ':';
    });
}

} // namespace

struct CodePage::Converters {
    Iconv decoder;
    Iconv encoder;
    bool decoderTried = false;
    bool encoderTried = false;
};

namespace {

// The descriptor, reset to its initial shift state; null when iconv lacks the code page.
void* converter(Iconv& cd, bool& tried, const QByteArray& to, const QByteArray& from) {
    if (!tried) {
        cd = openIconv(to, from);
        tried = true;
    }
    if (cd)
        iconv(static_cast<iconv_t>(cd.get()), nullptr, nullptr, nullptr, nullptr);
    return cd.get();
}

} // namespace

CodePage::CodePage(QByteArray name)
    : name_(std::move(name)), converters_(std::make_shared<Converters>()) {
    const QByteArray upper = name_.toUpper();
    utf8_ = upper == "UTF-8" || upper == "UTF8";
}

std::optional<CodePage> CodePage::fromCpgText(const QByteArray& cpgText) {
    QByteArray text = cpgText.trimmed().toUpper();
    if (text.isEmpty())
        return std::nullopt;
    if (text == "UTF-8" || text == "UTF8")
        return CodePage("UTF-8");
    for (const char* prefix : {"ANSI ", "OEM ", "CP", "WINDOWS-"}) {
        if (text.startsWith(prefix)) {
            text = text.mid(qsizetype(qstrlen(prefix))).trimmed();
            break;
        }
    }
    bool numeric = false;
    text.toInt(&numeric);
    const QByteArray name = numeric ? "CP" + text : text;
    if (!plainName(name) || !asciiCompatible(name))
        return std::nullopt;
    return CodePage(name);
}

std::optional<CodePage> CodePage::fromLanguageDriver(unsigned char ldid) {
    switch (ldid) {
    case 0x00:
    case 0x02:
        return CodePage("CP850");
    case 0x01:
        return CodePage("CP437");
    case 0x03:
    case 0x57:
        return CodePage("CP1252");
    default:
        return std::nullopt;
    }
}

QString CodePage::decode(const char* data, qsizetype size) const {
    if (size == 0)
        return {};
    if (utf8_)
        return QString::fromUtf8(data, size);

    void* cd = converter(converters_->decoder, converters_->decoderTried, "UTF-16LE", name_);
    if (!cd)
        return QString::fromLatin1(data, size);
    QString out;
    out.reserve(size);
    std::vector<char16_t> buffer(size_t(size) * 2 + 4);
    char* in = const_cast<char*>(data);
    size_t inLeft = size_t(size);
    while (inLeft > 0) {
        char* outPtr = reinterpret_cast<char*>(buffer.data());
        size_t outLeft = buffer.size() * sizeof(char16_t);
        const size_t rc = iconv(static_cast<iconv_t>(cd), &in, &inLeft, &outPtr, &outLeft);
        const size_t produced = (buffer.size() * sizeof(char16_t) - outLeft) / sizeof(char16_t);
        out.append(reinterpret_cast<const QChar*>(buffer.data()), qsizetype(produced));
        if (rc == size_t(-1) && inLeft > 0) {
            // An undefined byte: show it as a replacement character and go on.
            out.append(QChar(QChar::ReplacementCharacter));
            ++in;
            --inLeft;
        }
    }
    // A stateful code page may hold a character back until the end of the input.
    char* outPtr = reinterpret_cast<char*>(buffer.data());
    size_t outLeft = buffer.size() * sizeof(char16_t);
    iconv(static_cast<iconv_t>(cd), nullptr, nullptr, &outPtr, &outLeft);
    out.append(reinterpret_cast<const QChar*>(buffer.data()),
               qsizetype((buffer.size() * sizeof(char16_t) - outLeft) / sizeof(char16_t)));
    return out;
}

std::optional<QByteArray> CodePage::encode(const QString& text) const {
    if (text.isEmpty())
        return QByteArray();
    if (utf8_) {
        // Lone surrogates cannot be written as UTF-8 without loss.
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (c.isHighSurrogate()) {
                if (i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate())
                    return std::nullopt;
                ++i;
            } else if (c.isLowSurrogate()) {
                return std::nullopt;
            }
        }
        return text.toUtf8();
    }
    void* cd = converter(converters_->encoder, converters_->encoderTried, name_, "UTF-16LE");
    if (!cd)
        return std::nullopt;
    QByteArray out(text.size() * 8 + 16, Qt::Uninitialized);
    char* in = reinterpret_cast<char*>(const_cast<QChar*>(text.constData()));
    size_t inLeft = size_t(text.size()) * sizeof(QChar);
    char* outPtr = out.data();
    size_t outLeft = size_t(out.size());
    // The final call writes what a stateful code page still owes: the shift back to its
    // initial state.
    if (iconv(static_cast<iconv_t>(cd), &in, &inLeft, &outPtr, &outLeft) == size_t(-1) ||
        iconv(static_cast<iconv_t>(cd), nullptr, nullptr, &outPtr, &outLeft) == size_t(-1))
        return std::nullopt;
    out.truncate(out.size() - qsizetype(outLeft));
    return out;
}

} // namespace melofon::store
