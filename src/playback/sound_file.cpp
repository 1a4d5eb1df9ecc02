#include "playback/sound_file.h"

#include "playback/mp3_duration.h"
#include "playback/sndfile_library.h"

#include <QFile>
#include <QtEndian>


namespace melofon::playback {

namespace {

// libsndfile reads every coding Windows' own codecs wrote into a WAV file (PCM of any
// width, float, ADPCM, A-law, μ-law, GSM 6.10, MP3), odd-sized chunks included.
double wavSeconds(const QString& path) {
    const SndfileLibrary* sf = sndfile();
    SF_INFO info{};
    SNDFILE* file = sf ? sf->open(QFile::encodeName(path).constData(), SFM_READ, &info) : nullptr;
    if (!file)
        return -1;
    sf->close(file);
    const int type = info.format & SF_FORMAT_TYPEMASK;
    if ((type != SF_FORMAT_WAV && type != SF_FORMAT_WAVEX && type != SF_FORMAT_RF64) || info.samplerate <= 0 ||
        info.channels <= 0)
        return -1;
    return double(trueWavFrames(path, info.frames, wavCompressed(info.format))) / info.samplerate;
}

} // namespace

bool wavCompressed(int format) {
    const int coding = format & SF_FORMAT_SUBMASK;
    return coding != SF_FORMAT_PCM_U8 && coding != SF_FORMAT_PCM_S8 && coding != SF_FORMAT_PCM_16 &&
           coding != SF_FORMAT_PCM_24 && coding != SF_FORMAT_PCM_32 && coding != SF_FORMAT_FLOAT &&
           coding != SF_FORMAT_DOUBLE;
}

qint64 trueWavFrames(const QString& path, qint64 decoded, bool compressed) {
    QFile file(path);
    if (!compressed || !file.open(QIODevice::ReadOnly) || !file.seek(12))
        return decoded;
    // The chunks before the samples, each padded to an even length.
    for (int chunks = 0; chunks < 64; ++chunks) {
        const QByteArray head = file.read(8);
        if (head.size() < 8 || head.startsWith("data"))
            break;
        const quint32 size = qFromLittleEndian<quint32>(head.constData() + 4);
        if (head.startsWith("fact") && size >= 4) {
            const QByteArray count = file.read(4);
            const qint64 frames = count.size() == 4 ? qFromLittleEndian<quint32>(count.constData()) : 0;
            return frames > 0 && frames < decoded ? frames : decoded;
        }
        if (!file.seek(file.pos() + size + (size & 1)))
            break;
    }
    return decoded;
}

SoundFile examine(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(12);
    file.close();
    if (head.startsWith("MThd") || (head.startsWith("RIFF") && head.mid(8, 4) == "RMID"))
        return {SoundFile::Midi};
    if ((head.startsWith("RIFF") || head.startsWith("RF64")) && head.mid(8, 4) == "WAVE") {
        const double seconds = wavSeconds(path);
        return seconds < 0 ? SoundFile{} : SoundFile{SoundFile::Wav, seconds};
    }
    const auto* b = reinterpret_cast<const unsigned char*>(head.constData());
    if (head.startsWith("ID3") || (head.size() >= 2 && b[0] == 0xFF && (b[1] & 0xE0) == 0xE0))
        return {SoundFile::Mp3};
    return {};
}

SoundFile measure(const QString& path) {
    SoundFile found = examine(path);
    if (found.kind == SoundFile::Mp3)
        found.seconds = mp3Seconds(path);
    return found;
}

} // namespace melofon::playback
