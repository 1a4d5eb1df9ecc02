#include "playback/mp3_duration.h"

#include <QFile>

namespace melofon::playback {

namespace {

// One MPEG audio Layer III frame header: its length in bytes and the samples it holds.
struct Mp3Frame {
    int bytes = 0;
    int samples = 0;
    int rate = 0;
};

bool parseMp3Header(const unsigned char* h, Mp3Frame& frame) {
    static constexpr int kMpeg1Kbps[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                           112, 128, 160, 192, 224, 256, 320, 0};
    static constexpr int kMpeg2Kbps[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                           64, 80, 96, 112, 128, 144, 160, 0};
    static constexpr int kRates[3] = {44100, 48000, 32000};
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return false;
    const int version = (h[1] >> 3) & 3; // 0: 2.5, 1: reserved, 2: 2, 3: 1
    const int layer = (h[1] >> 1) & 3;   // 1: Layer III
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (version == 1 || layer != 1 || rateIndex == 3)
        return false;
    const int kbps = version == 3 ? kMpeg1Kbps[bitrateIndex] : kMpeg2Kbps[bitrateIndex];
    if (kbps == 0)
        return false;
    frame.rate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    frame.samples = version == 3 ? 1152 : 576;
    frame.bytes = frame.samples / 8 * kbps * 1000 / frame.rate + ((h[2] >> 1) & 1);
    return true;
}

} // namespace

double estimateMp3Seconds(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    qint64 start = 0;
    const QByteArray id3 = file.read(10);
    if (id3.size() == 10 && id3.startsWith("ID3")) {
        const auto b = [&](int i) { return qint64(static_cast<unsigned char>(id3[i]) & 0x7F); };
        start = 10 + (b(6) << 21 | b(7) << 14 | b(8) << 7 | b(9)) + ((id3[5] & 0x10) ? 10 : 0);
    }
    qint64 end = file.size();
    if (end - start >= 128 && file.seek(end - 128) && file.read(3) == "TAG")
        end -= 128; // ID3v1
    if (!file.seek(start))
        return 0;
    const QByteArray head = file.read(64 * 1024);
    const auto* data = reinterpret_cast<const unsigned char*>(head.constData());
    const int size = int(head.size());

    // The first header whose successor is where its length says: a lone 0xFFE is no sync.
    Mp3Frame frame, next;
    int first = 0;
    for (; first + 4 <= size; ++first) {
        if (!parseMp3Header(data + first, frame))
            continue;
        const int following = first + frame.bytes;
        if (following + 4 <= size && parseMp3Header(data + following, next))
            break;
    }
    qint64 bytes = 0, samples = 0;
    int frames = 0;
    for (int at = first; at + 4 <= size && parseMp3Header(data + at, frame); at += frame.bytes) {
        if (at + frame.bytes > size)
            break;
        bytes += frame.bytes;
        samples += frame.samples;
        ++frames;
    }
    if (frames < 4)
        return 0;
    return double(samples) / frame.rate * double(end - start - first) / double(bytes);
}

} // namespace melofon::playback
