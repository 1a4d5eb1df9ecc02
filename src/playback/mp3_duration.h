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

// The bytes of the Layer III frame whose four-byte header is at `header`; 0 if it is none.
// `stream`, when given, gets what the frames of one stream have in common.
int mp3FrameBytes(const unsigned char* header, int* stream = nullptr);

} // namespace melofon::playback
