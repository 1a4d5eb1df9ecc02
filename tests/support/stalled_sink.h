#pragma once

#include "playback/gst_player.h"

#include <gst/gst.h>

#include <condition_variable>
#include <mutex>

namespace melofon::test {

// An output whose first pipeline hangs in its streaming thread, as a read from a share
// that stopped answering does, until the test lets it go.
struct Stall {
    std::mutex mutex;
    std::condition_variable released;
    bool free = false;
    int pipelines = 0;

    playback::GstPlayer::SinkFactory factory() {
        return [this]() -> GstElement* {
            GstElement* sink = gst_element_factory_make("fakesink", nullptr);
            std::lock_guard lock(mutex);
            if (pipelines++ == 0) {
                GstPad* pad = gst_element_get_static_pad(sink, "sink");
                gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, [](GstPad*, GstPadProbeInfo*, gpointer self) {
                    auto* s = static_cast<Stall*>(self);
                    std::unique_lock lock(s->mutex);
                    s->released.wait(lock, [&] { return s->free; });
                    return GST_PAD_PROBE_OK;
                }, this, nullptr);
                gst_object_unref(pad);
            }
            return sink;
        };
    }
    // For another use, once the hung thread has been let go.
    void reset() {
        std::lock_guard lock(mutex);
        free = false;
        pipelines = 0;
    }
    void release() {
        std::lock_guard lock(mutex);
        free = true;
        released.notify_all();
    }
};

} // namespace melofon::test
