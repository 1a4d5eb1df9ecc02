// What the worker does with the messages its pipeline posts: the end of a file, errors,
// tags, and the engine's own changes of state.

#include "playback/gst_session.h"

#include <QtDebug>

namespace melofon::playback {

void GstPlayer::Session::handle(GstMessage* message) {
    GstElement* p = pipeline.load();
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ASYNC_DONE:
        if (phase == Prerolling)
            prerolled();
        break;
    case GST_MESSAGE_STATE_CHANGED: {
        // The output's own change too: a file taken that failed early leaves playbin short
        // of PLAYING, though the output plays.
        GstState old = GST_STATE_VOID_PENDING, now = GST_STATE_VOID_PENDING;
        gst_message_parse_state_changed(message, &old, &now, nullptr);
        if (now == GST_STATE_PLAYING && phase == Playing && !startReported) {
            startReported = true;
            samplePosition();
            started();
        }
        break;
    }
    case GST_MESSAGE_STREAM_START:
        streamStart();
        break;
    case GST_MESSAGE_EOS:
        if (phase == Playing || phase == Paused)
            finishFile();
        break;
    case GST_MESSAGE_ERROR:
        handleError(message);
        break;
    case GST_MESSAGE_WARNING: {
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_warning(message, &error, &debug);
        qWarning("Melofon: %s (%s)", error ? error->message : "", debug ? debug : "");
        g_clear_error(&error);
        g_free(debug);
        break;
    }
    case GST_MESSAGE_ELEMENT: {
        // decodebin's "missing-plugin" names the stream it found no decoder for; for MIDI
        // that is what a synthesizer without a soundfont leaves behind.
        const GValue* detail = gst_structure_get_value(gst_message_get_structure(message), "detail");
        if (detail && GST_VALUE_HOLDS_CAPS(detail)) {
            const GstCaps* caps = gst_value_get_caps(detail);
            if (caps && gst_caps_get_size(caps) > 0)
                missingDecoder = fromUtf8(gst_structure_get_name(gst_caps_get_structure(caps, 0)));
        }
        break;
    }
    case GST_MESSAGE_DURATION_CHANGED:
        if (const double d = duration(); d > 0) {
            Report r(Report::DurationChanged);
            r.duration = d;
            report(r);
        }
        break;
    case GST_MESSAGE_LATENCY:
        gst_bin_recalculate_latency(GST_BIN(p));
        break;
    case GST_MESSAGE_REQUEST_STATE:
        handleRequestState(message);
        break;
    case GST_MESSAGE_BUFFERING:
        handleBuffering(message);
        break;
    case GST_MESSAGE_TAG:
        handleTags(message);
        break;
    case GST_MESSAGE_CLOCK_LOST:
        // The output went away and came back: playing on needs a new clock.
        if (phase == Playing) {
            gst_element_set_state(p, GST_STATE_PAUSED);
            gst_element_set_state(p, GST_STATE_PLAYING);
        }
        break;
    default:
        break;
    }
}

void GstPlayer::Session::handleError(GstMessage* message) {
    Failure failure;
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    failure.domain = error->domain;
    failure.code = error->code;
    failure.detail = fromUtf8(error->message);
    qWarning("Melofon: %s (%s)", error->message, debug ? debug : "");
    g_error_free(error);
    g_free(debug);
    GstObject* source = GST_MESSAGE_SRC(message);
    // The decoder of a next file that failed, taken out of the pipeline, may still post:
    // that is no failure of the file that plays.
    if (!gst_object_has_as_ancestor(source, GST_OBJECT(pipeline.load())))
        return;
    failure.fromSink = sink && (source == GST_OBJECT(sink) || gst_object_has_as_ancestor(source, GST_OBJECT(sink)));
    failure.fromSynthesizer = GST_IS_ELEMENT(source) && hasFactory(GST_ELEMENT(source), "fluiddec");
    // A file queued to follow fails while the one before still plays: that one plays on.
    if (std::optional<Report> next = nextFailure(source, failure)) {
        if (next->ended) {
            // It had passed its joint: nothing is left to play.
            reset(GST_STATE_NULL);
            phase = Rewound;
        } else if (phase == Prerolling) {
            // Taken while the file opened was still prerolling, it can keep playbin from ever
            // finishing: that file is opened again from nothing, to hand over nothing this
            // time. What the old pipeline still posts is of an earlier epoch, and passed over.
            const bool play = wantPlay, pause = wantPause;
            reset(GST_STATE_NULL);
            phase = None;
            openFile(open, path, volume, false);
            wantPlay = play;
            wantPause = pause;
        }
        if (next->cue)
            report(*next);
        else if (next->ended)
            report(Report(Report::Ended));
        return;
    }
    if (phase != None && phase != Rewound)
        failWith(failure, phase == Prerolling ? QStringLiteral("No se puede abrir") : QStringLiteral("No se puede reproducir"));
}

// The sound server asks for a pause (a call begins, the output is corked) or for play again.
// The player is told, so that what it shows is what plays; a pause of the user's own is
// never undone by it.
void GstPlayer::Session::handleRequestState(GstMessage* message) {
    GstState requested = GST_STATE_VOID_PENDING;
    gst_message_parse_request_state(message, &requested);
    if (requested == GST_STATE_PAUSED && phase == Playing) {
        pause();
        engineHeld = true;
        tellState(MediaPlayer::Paused);
    } else if (requested == GST_STATE_PLAYING && phase == Paused && engineHeld) {
        engineHeld = false;
        play();
        tellState(MediaPlayer::Playing);
    } else if (requested <= GST_STATE_READY && phase != None && phase != Rewound) {
        stop();
        tellState(MediaPlayer::Stopped);
    }
}

void GstPlayer::Session::handleTags(GstMessage* message) {
    GstTagList* list = nullptr;
    gst_message_parse_tag(message, &list);
    const auto text = [&](const char* tag) {
        gchar* value = nullptr;
        QString result;
        if (gst_tag_list_get_string(list, tag, &value))
            result = fromUtf8(value).trimmed();
        g_free(value);
        return result;
    };
    Report r(Report::Tags);
    r.tags.title = text(GST_TAG_TITLE);
    r.tags.artist = text(GST_TAG_ARTIST);
    r.tags.album = text(GST_TAG_ALBUM);
    guint track = 0;
    if (gst_tag_list_get_uint(list, GST_TAG_TRACK_NUMBER, &track))
        r.tags.track = int(track);
    gst_tag_list_unref(list);
    if (!(r.tags == FileTags{}))
        report(r);
}

// A slow source: the file is held until enough of it has arrived, and meanwhile it does
// not count as playing.
void GstPlayer::Session::handleBuffering(GstMessage* message) {
    gint percent = 100;
    gst_message_parse_buffering(message, &percent);
    GstElement* p = pipeline.load();
    if (percent < 100 && !buffering && phase == Playing) {
        buffering = true;
        gst_element_set_state(p, GST_STATE_PAUSED);
        tellState(MediaPlayer::Opening);
    } else if (percent >= 100 && buffering) {
        buffering = false;
        if (phase == Playing) {
            gst_element_set_state(p, GST_STATE_PLAYING);
            tellState(MediaPlayer::Playing);
        }
    }
}

} // namespace melofon::playback
