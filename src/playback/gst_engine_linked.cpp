// For tests and benchmarks: the engine linked into the program rather than loaded.

#include "playback/gst_engine.h"

extern "C" const melofon::playback::GstPlayer::EngineEntry* melofon_engine();

namespace {

const bool linked = (melofon::playback::GstPlayer::linkEngine(melofon_engine()), true);

} // namespace
