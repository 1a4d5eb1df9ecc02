#pragma once

#include <QString>

namespace melofon::playback {

// What a file holds, told by its first bytes, not by its name.
struct SoundFile {
    enum Kind {
        Other, // left to GStreamer to recognise, or to refuse
        Wav,   // a RIFF WAVE (or RF64) file that libsndfile reads, whatever its coding
        Midi,  // a standard MIDI file, bare or RIFF-wrapped (RMID)
        Mp3,   // begins with an ID3v2 tag or an MPEG audio frame
    };
    Kind kind = Other;
    // The true length where the header tells it (WAV); 0 where it does not.
    double seconds = 0;
};

// Reads the file's header: call it where the file system may be slow, never on the
// window's thread.
SoundFile examine(const QString& path);

// The samples a compressed WAV file truly holds, from its "fact" chunk, when that is
// fewer than `decoded` (a decoder gives whole blocks, the last one padded); otherwise
// `decoded`. Uncompressed samples are all real: their fact chunk is not looked at.
qint64 trueWavFrames(const QString& path, qint64 decoded, bool compressed);
// The coding of libsndfile's `format` is neither PCM nor float.
bool wavCompressed(int format);

// What a file that was handed to the player is known to hold, looked at before it plays:
// its kind and its true length, 0 when only the decoder can tell (MIDI). For an MP3 this
// counts its frames, which may read the whole file.
SoundFile measure(const QString& path);

} // namespace melofon::playback
