#pragma once

#include <QByteArray>

#include <vector>

namespace melofon::test {

// Builds dBASE table images byte by byte, the way other programs may have written them,
// so the reader can be tried on layouts our writer never produces.
struct DbfBytes {
    struct Field {
        QByteArray name;
        char type;
        int length;
        int decimals = 0;
    };

    unsigned char version = 0x03;
    unsigned char languageDriver = 0x00;
    std::vector<Field> fields;
    std::vector<QByteArray> records; // each without the deletion flag unless `raw`
    std::vector<bool> deleted;
    int declaredCount = -1; // -1: the number of records
    bool endMark = true;

    void add(const QByteArray& fieldBytes, bool isDeleted = false) {
        records.push_back(fieldBytes);
        deleted.push_back(isDeleted);
    }

    QByteArray build() const {
        int recordLength = 1;
        for (const Field& f : fields)
            recordLength += f.length;
        const int headerLength = 32 + 32 * int(fields.size()) + 1;
        QByteArray out(32, '\0');
        out[0] = char(version);
        out[1] = char(99);
        out[2] = 1;
        out[3] = 2;
        const unsigned count = declaredCount < 0 ? unsigned(records.size()) : unsigned(declaredCount);
        for (int i = 0; i < 4; ++i)
            out[4 + i] = char((count >> (8 * i)) & 0xFF);
        out[8] = char(headerLength & 0xFF);
        out[9] = char(headerLength >> 8);
        out[10] = char(recordLength & 0xFF);
        out[11] = char(recordLength >> 8);
        out[29] = char(languageDriver);
        for (const Field& f : fields) {
            QByteArray d(32, '\0');
            d.replace(0, f.name.size(), f.name);
            d[11] = f.type;
            d[16] = char(f.length);
            d[17] = char(f.decimals);
            out += d;
        }
        out += char(0x0D);
        for (std::size_t i = 0; i < records.size(); ++i) {
            QByteArray r = records[i];
            r.resize(recordLength - 1, ' ');
            out += (deleted[i] ? '*' : ' ') + r;
        }
        if (endMark)
            out += char(0x1A);
        return out;
    }
};

// A field's bytes: text left-aligned, numbers right-aligned, both padded with blanks.
inline QByteArray leftAligned(const QByteArray& text, int width) {
    return text + QByteArray(width - text.size(), ' ');
}
inline QByteArray rightAligned(const QByteArray& text, int width) {
    return QByteArray(width - text.size(), ' ') + text;
}

} // namespace melofon::test
