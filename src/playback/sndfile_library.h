#pragma once

// libsndfile, loaded the first time a WAV file is looked at: a program that plays no WAV
// file never maps it, nor the codec libraries it brings (FLAC, Vorbis, Opus, MP3), which
// cost most of a megabyte of resident memory.

#include <sndfile.h>

namespace melofon::playback {

struct SndfileLibrary {
    SNDFILE* (*open)(const char* path, int mode, SF_INFO* info) = nullptr;
    int (*close)(SNDFILE* file) = nullptr;
    sf_count_t (*readShort)(SNDFILE* file, short* frames, sf_count_t count) = nullptr;
    sf_count_t (*readInt)(SNDFILE* file, int* frames, sf_count_t count) = nullptr;
    sf_count_t (*readFloat)(SNDFILE* file, float* frames, sf_count_t count) = nullptr;
    int (*error)(SNDFILE* file) = nullptr;
    const char* (*strerror)(SNDFILE* file) = nullptr;
};

// The library's functions, or null when it cannot be loaded: WAV files then go to
// GStreamer's own parser. Safe to call from any thread.
const SndfileLibrary* sndfile();

} // namespace melofon::playback
