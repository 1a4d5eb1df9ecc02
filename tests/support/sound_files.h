#pragma once

// Sound files the tests and benchmarks make for themselves.

#include "support/temp_dir.h"

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QtEndian>

#include <cmath>

namespace melofon::test {

// 44.1 kHz stereo 16-bit samples that differ all along, so that a lost, doubled or altered
// stretch shows.
inline QByteArray pcm(double seconds, quint32 seed = 12345) {
    const int frames = int(std::lround(seconds * 44100));
    QByteArray data(frames * 4, Qt::Uninitialized);
    quint32 x = seed;
    for (int i = 0; i < frames * 2; ++i) {
        x = x * 1103515245u + 12345u;
        qToLittleEndian<qint16>(qint16((x >> 16) & 0x3FFF) - 0x2000, data.data() + 2 * i);
    }
    return data;
}

inline QByteArray wav(const QByteArray& samples) {
    QByteArray h(44, '\0');
    auto put32 = [&](int at, quint32 v) { qToLittleEndian<quint32>(v, h.data() + at); };
    auto put16 = [&](int at, quint16 v) { qToLittleEndian<quint16>(v, h.data() + at); };
    h.replace(0, 4, "RIFF");
    put32(4, quint32(36 + samples.size()));
    h.replace(8, 8, "WAVEfmt ");
    put32(16, 16);
    put16(20, 1); // PCM
    put16(22, 2);
    put32(24, 44100);
    put32(28, 44100 * 4);
    put16(32, 4);
    put16(34, 16);
    h.replace(36, 4, "data");
    put32(40, quint32(samples.size()));
    return h + samples;
}

// The sample data of a WAV file, wherever its header puts it.
inline QByteArray wavData(const QByteArray& file) {
    for (qsizetype at = 12; at + 8 <= file.size();) {
        const quint32 size = qFromLittleEndian<quint32>(file.constData() + at + 4);
        if (file.mid(at, 4) == "data")
            return file.mid(at + 8, size);
        at += 8 + size + (size & 1);
    }
    return {};
}

// Format 0, 480 ticks a quarter at 120 a minute: four eighth notes, one second.
inline QByteArray midi() {
    QByteArray track;
    track += QByteArray::fromHex("00ff510307a120"); // tempo 500000 µs a quarter
    track += QByteArray::fromHex("00c000");         // piano
    for (const char note : {60, 64, 67, 72}) {
        track += QByteArray::fromHex("0090") + note + char(100);
        track += QByteArray::fromHex("8170") + char(0x80) + note + char(64); // 240 ticks later
    }
    track += QByteArray::fromHex("00ff2f00");
    QByteArray length(4, '\0');
    qToBigEndian<quint32>(quint32(track.size()), length.data());
    return QByteArray::fromHex("4d546864000000060000000101e0") + "MTrk" + length + track;
}

// Runs gst-launch-1.0 with `pipeline`, writing its output to `file`.
inline void gstLaunch(const QString& pipeline, const QString& file) {
    runProgram(QStringLiteral("gst-launch-1.0"),
               QStringList{QStringLiteral("-q")} + QProcess::splitCommand(pipeline) +
                   QStringList{QStringLiteral("!"), QStringLiteral("filesink"),
                               QStringLiteral("location=") + file});
}

} // namespace melofon::test
