#pragma once

#include <QString>

namespace melofon::playback {

// Seconds of MP3 audio in the file, reckoned from its size and the frames in its first
// 64 KiB; 0 when it does not hold MP3 frames. GStreamer's parser gives no duration for an
// MP3 without a VBR header until it has read a good part of it, in real time.
double estimateMp3Seconds(const QString& path);

} // namespace melofon::playback
