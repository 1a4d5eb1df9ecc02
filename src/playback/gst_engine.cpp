// The engine's start and its way in: what the player, in the program, finds in the library
// it opens with the first file (or in the program itself, where the engine is linked in).

#include "playback/gst_session.h"

#include <mutex>
#include <thread>

namespace melofon::playback {

void startGStreamer(const std::function<void()>& started) {
    static std::once_flag once;
    std::call_once(once, [&] {
        // The name the sound server shows for the program's connection.
        g_set_application_name("Melofon");
        gst_init(nullptr, nullptr);
        recogniseOwnKindsFirst();
        if (started)
            started();
    });
}

const GstPlayer::EngineEntry GstPlayer::Session::entry{&GstPlayer::Session::begin, [] { startGStreamer(); }};

std::shared_ptr<GstPlayer::Engine> GstPlayer::Session::begin(EngineSetup setup) {
    auto s = std::make_shared<Session>();
    s->id = setup.id;
    s->self = s;
    s->makeSink = std::move(setup.makeSink);
    s->sinkDescription = std::move(setup.sinkDescription);
    s->soundfont = std::move(setup.soundfont);
    s->engineStarted = std::move(setup.started);
    s->target = setup.target;
    s->deliver = std::move(setup.deliver);
    std::thread(&Session::run, s).detach();
    return s;
}

} // namespace melofon::playback

// The engine's one way in, for the program that loads it.
extern "C" __attribute__((visibility("default"))) const melofon::playback::GstPlayer::EngineEntry* melofon_engine() {
    return &melofon::playback::GstPlayer::Session::entry;
}
