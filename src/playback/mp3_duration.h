#pragma once

#include <QString>

namespace melofon::playback {

// Seconds of sound in an MPEG audio Layer III file, as a decoder plays it: the samples of
// its frames, less the encoder's delay and padding where a LAME tag gives them (the decoder
// trims those). A Xing, Info or VBRI header gives the count of frames; without one every
// frame is counted, which reads the whole file: call it off the window's thread. Tags at
// either end (ID3v2 of any size, ID3v1, APE) are passed over. 0 when the file holds no
// Layer III frames, or frames of free bit rate, which only a decoder can measure.
double mp3Seconds(const QString& path);

} // namespace melofon::playback
