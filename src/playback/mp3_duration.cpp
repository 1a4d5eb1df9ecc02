#include "playback/mp3_duration.h"

#include <QFile>

#include <cstring>
#include <optional>

namespace melofon::playback {

namespace {

// One Layer III frame header.
struct Frame {
    int bytes = 0;
    int samples = 0;
    int rate = 0;
    int version = 0; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    bool mono = false;
    // Frames of one stream share these; a false sync in the data rarely does.
    bool sameStream(const Frame& o) const { return version == o.version && rate == o.rate; }
};

std::optional<Frame> parseHeader(const unsigned char* h) {
    static constexpr int kMpeg1Kbps[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                           112, 128, 160, 192, 224, 256, 320, 0};
    static constexpr int kMpeg2Kbps[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                           64, 80, 96, 112, 128, 144, 160, 0};
    static constexpr int kRates[3] = {44100, 48000, 32000};
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return std::nullopt;
    const int version = (h[1] >> 3) & 3;
    const int layer = (h[1] >> 1) & 3; // 1: Layer III
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (version == 1 || layer != 1 || rateIndex == 3 || bitrateIndex == 0 || bitrateIndex == 15)
        return std::nullopt;
    Frame f;
    f.version = version;
    const int kbps = version == 3 ? kMpeg1Kbps[bitrateIndex] : kMpeg2Kbps[bitrateIndex];
    f.rate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    f.samples = version == 3 ? 1152 : 576;
    f.bytes = f.samples / 8 * kbps * 1000 / f.rate + ((h[2] >> 1) & 1);
    f.mono = (h[3] >> 6) == 3;
    return f;
}

quint32 be32(const unsigned char* p) { return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3]; }
quint32 le32(const unsigned char* p) { return quint32(p[3]) << 24 | quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0]; }

// Reads a file front to back through a large buffer: each byte is read once however the
// frames fall, and a 100 MB file takes a hundred reads.
class Reader {
public:
    explicit Reader(QFile& file) : file_(file), size_(file.size()) {}
    qint64 size() const { return size_; }
    // `n` bytes at `at`, or null past the end.
    const unsigned char* at(qint64 at, int n) {
        if (at < 0 || at + n > size_)
            return nullptr;
        if (at < start_ || at + n > start_ + buffer_.size()) {
            if (!file_.seek(at))
                return nullptr;
            buffer_ = file_.read(std::max<qint64>(n, kChunk));
            start_ = at;
            if (buffer_.size() < n)
                return nullptr;
        }
        return reinterpret_cast<const unsigned char*>(buffer_.constData()) + (at - start_);
    }

private:
    static constexpr qint64 kChunk = 1 << 20;
    QFile& file_;
    qint64 size_;
    qint64 start_ = 0;
    QByteArray buffer_;
};

// Where the audio ends: before an ID3v1 tag and an APE tag, in either order.
qint64 audioEnd(Reader& in) {
    qint64 end = in.size();
    for (bool found = true; found;) {
        found = false;
        if (const unsigned char* t = in.at(end - 128, 3); t && std::memcmp(t, "TAG", 3) == 0) {
            end -= 128;
            found = true;
        }
        if (const unsigned char* a = in.at(end - 32, 32); a && std::memcmp(a, "APETAGEX", 8) == 0) {
            const qint64 size = le32(a + 12) + ((le32(a + 20) & 0x80000000u) ? 32 : 0);
            if (size >= 32 && size <= end) {
                end -= size;
                found = true;
            }
        }
    }
    return end;
}

// The first frame at or after `from` that the next one follows where its length says.
std::optional<std::pair<qint64, Frame>> firstFrame(Reader& in, qint64 from, qint64 end) {
    for (qint64 at = from; at + 4 <= end; ++at) {
        const unsigned char* h = in.at(at, 4);
        if (!h || h[0] != 0xFF)
            continue;
        const std::optional<Frame> f = parseHeader(h);
        if (!f)
            continue;
        if (at + f->bytes == end)
            return std::pair(at, *f);
        const unsigned char* n = at + f->bytes + 4 <= end ? in.at(at + f->bytes, 4) : nullptr;
        if (std::optional<Frame> next = n ? parseHeader(n) : std::nullopt; next && next->sameStream(*f))
            return std::pair(at, *f);
    }
    return std::nullopt;
}

// The count of frames, and the samples to trim, that a Xing, Info or VBRI header in the
// first frame gives.
struct Header {
    qint64 frames = 0;
    qint64 trimmed = 0;
};
std::optional<Header> vbrHeader(Reader& in, qint64 at, const Frame& f) {
    const unsigned char* frame = in.at(at, f.bytes);
    if (!frame)
        return std::nullopt;
    const int sideInfo = f.version == 3 ? (f.mono ? 17 : 32) : (f.mono ? 9 : 17);
    const unsigned char* x = frame + 4 + sideInfo;
    if (4 + sideInfo + 8 <= f.bytes && (std::memcmp(x, "Xing", 4) == 0 || std::memcmp(x, "Info", 4) == 0)) {
        const quint32 flags = be32(x + 4);
        if (!(flags & 1))
            return std::nullopt;
        Header h;
        h.frames = be32(x + 8);
        // The LAME tag after the fields: encoder delay and padding, 12 bits each.
        const int lame = 8 + 4 + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) + ((flags & 8) ? 4 : 0);
        if (4 + sideInfo + lame + 24 <= f.bytes && std::memcmp(x + lame, "LAME", 4) == 0) {
            const unsigned char* d = x + lame + 21;
            h.trimmed = (d[0] << 4 | d[1] >> 4) + ((d[1] & 0x0F) << 8 | d[2]);
        }
        return h;
    }
    const unsigned char* v = frame + 36;
    if (36 + 18 <= f.bytes && std::memcmp(v, "VBRI", 4) == 0)
        return Header{be32(v + 14), 0};
    return std::nullopt;
}

} // namespace

int mp3FrameBytes(const unsigned char* header, int* stream) {
    const std::optional<Frame> f = parseHeader(header);
    if (f && stream)
        *stream = f->version << 20 | f->rate;
    return f ? f->bytes : 0;
}

double mp3Seconds(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    Reader in(file);
    qint64 start = 0;
    // ID3v2 tags, one after the other; a footer adds ten bytes.
    while (const unsigned char* id3 = in.at(start, 10)) {
        if (std::memcmp(id3, "ID3", 3) != 0)
            break;
        const auto b = [&](int i) { return qint64(id3[i] & 0x7F); };
        start += 10 + (b(6) << 21 | b(7) << 14 | b(8) << 7 | b(9)) + ((id3[5] & 0x10) ? 10 : 0);
    }
    const qint64 end = audioEnd(in);
    const auto first = firstFrame(in, start, end);
    if (!first)
        return 0;
    auto [at, frame] = *first;
    if (const std::optional<Header> h = vbrHeader(in, at, frame))
        return double(std::max<qint64>(0, h->frames * frame.samples - h->trimmed)) / frame.rate;

    // Frame by frame. Junk between frames is passed over to the next true sync; a frame cut
    // short by the end of the file is not played.
    double seconds = 0;
    const Frame stream = frame;
    while (at + frame.bytes <= end) {
        seconds += double(frame.samples) / frame.rate;
        at += frame.bytes;
        const unsigned char* h = in.at(at, 4);
        std::optional<Frame> next = h ? parseHeader(h) : std::nullopt;
        if (!next || !next->sameStream(stream)) {
            const auto resync = firstFrame(in, at + 1, end);
            if (!resync || !resync->second.sameStream(stream))
                break;
            at = resync->first;
            next = resync->second;
        }
        frame = *next;
    }
    return seconds;
}

} // namespace melofon::playback
