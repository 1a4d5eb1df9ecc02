// The gapless hand-over. playbin asks for the next file (about-to-finish) as soon as it has
// read the playing one, which for a short local file is almost at once: long before the
// file is heard to end, and before the walk may have changed its mind. So the player
// publishes what is to follow, a streaming thread takes from it without waiting for anyone,
// and whether the file taken really follows is decided again at the joint, when the
// playing file's last samples have reached the output: if it no longer follows, the output
// is given the end of the stream there, and the player opens what does.

#include "playback/gst_session.h"

#include "playback/gst_wav_source.h"

#include <QFile>

namespace melofon::playback {

void GstPlayer::Session::setPlan(const QueuedFiles& files, const QHash<QString, SoundFile>& found) {
    std::lock_guard lock(nextMutex);
    plan = files;
    planned = found;
}

void GstPlayer::Session::clearHandover() {
    std::deque<Taken> gone;
    {
        std::lock_guard lock(nextMutex);
        gone.swap(taken);
        accepted = dropping = audioSeen = false;
        playingCue = 0;
        playingStream.clear();
        streamStarted.reset();
    }
    for (Taken& t : gone)
        release(t);
}

void GstPlayer::Session::release(Taken& t) {
    if (t.bin)
        gst_object_unref(std::exchange(t.bin, nullptr));
    if (t.source)
        gst_object_unref(std::exchange(t.source, nullptr));
}

void GstPlayer::Session::beginFile(bool alone) {
    clearHandover();
    std::lock_guard lock(nextMutex);
    // A synthesizer per file is large: a MIDI file plays alone, handing over to nothing and
    // handed nothing, so that two never live at once.
    handoverAllowed = !alone;
}

// What follows the file of `cue` in the plan: the file after it there, or the plan's first
// when it is not in it (the file the player opened, or one the player has seen start).
std::optional<QueuedFile> GstPlayer::Session::follows(quint64 cue) const {
    for (std::size_t i = 0; i < plan.size(); ++i)
        if (plan[i].cue == cue)
            return i + 1 < plan.size() ? std::optional(plan[i + 1]) : std::nullopt;
    return plan.empty() ? std::nullopt : std::optional(plan.front());
}

// On a streaming thread, once the file being read has been read to its end.
void GstPlayer::Session::handOver(GstElement* bin) {
    std::optional<QueuedFile> next;
    bool wav = false;
    {
        std::lock_guard lock(nextMutex);
        if (!handoverAllowed || dropping)
            return;
        next = follows(taken.empty() ? playingCue : taken.back().file.cue);
        if (!next)
            return;
        taken.push_back({*next});
        wav = planned.value(next->path).kind == SoundFile::Wav;
    }
    if (wav) {
        g_object_set(bin, "uri", sndfileUri(next->path).toUtf8().constData(), nullptr);
        return;
    }
    gchar* uri = gst_filename_to_uri(QFile::encodeName(next->path).constData(), nullptr);
    if (!uri)
        return;
    g_object_set(bin, "uri", uri, nullptr);
    g_free(uri);
}

// playbin made the source of the file just taken: its decoder is the source's bin.
void GstPlayer::Session::sourceSetUp(GstElement* source) {
    if (hasFactory(source, "appsrc"))
        feedFromSndfile(source);
    GstObject* bin = gst_object_get_parent(GST_OBJECT(source));
    {
        std::lock_guard lock(nextMutex);
        if (bin && !taken.empty() && !taken.back().bin)
            std::swap(taken.back().bin, bin);
        if (!taken.empty() && !taken.back().source)
            taken.back().source = GST_ELEMENT(gst_object_ref(source));
    }
    if (bin)
        gst_object_unref(bin);
}

// On a streaming thread, for every buffer and event on its way into the output.
GstPadProbeReturn GstPlayer::Session::atOutput(GstPad* pad, GstPadProbeInfo* info) {
    std::lock_guard lock(nextMutex);
    if (!(info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM))
        return dropping ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
    switch (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info))) {
    case GST_EVENT_FLUSH_START:
    case GST_EVENT_FLUSH_STOP:
        return GST_PAD_PROBE_OK;
    case GST_EVENT_STREAM_GROUP_DONE:
        // The playing file's last samples are in: the joint.
        if (dropping)
            return GST_PAD_PROBE_DROP;
        if (!taken.empty() && !accepted && !playingStream.isEmpty())
            decideJoint(pad, info);
        return GST_PAD_PROBE_OK;
    case GST_EVENT_STREAM_START: {
        if (dropping)
            return GST_PAD_PROBE_DROP;
        const gchar* id = nullptr;
        gst_event_parse_stream_start(GST_PAD_PROBE_INFO_EVENT(info), &id);
        // The same stream again (the output was linked anew) is no joint.
        const QByteArray stream(id ? id : "");
        if (stream == playingStream)
            return GST_PAD_PROBE_OK;
        // The file opened: a short one may have been read, and the next taken, before its
        // stream reaches the output.
        if (playingStream.isEmpty() || taken.empty()) {
            playingStream = stream;
            audioSeen = true;
            return GST_PAD_PROBE_OK;
        }
        if (!accepted && !decideJoint(pad, info))
            return GST_PAD_PROBE_OK;
        accepted = false;
        playingStream = stream;
        playingCue = taken.front().file.cue;
        streamStarted = taken.front().file;
        release(taken.front());
        taken.pop_front();
        return GST_PAD_PROBE_OK;
    }
    default:
        return dropping ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
    }
}

namespace {

// Whether the file taken comes out of its decoder in the format the output plays now. At a
// change of format the output lets its stream go, with the samples it still holds (the end
// of the file before), and starts the next one late, its beginning dropped. Unknown, when
// the decoder has not said yet, counts as the same.
bool sameFormat(GstPad* output, GstElement* source) {
    GstObject* decoder = source ? gst_object_get_parent(GST_OBJECT(source)) : nullptr;
    if (!decoder)
        return true;
    GstCaps* next = nullptr;
    GstIterator* pads = gst_element_iterate_src_pads(GST_ELEMENT(decoder));
    GValue item = G_VALUE_INIT;
    while (!next && gst_iterator_next(pads, &item) == GST_ITERATOR_OK) {
        next = gst_pad_get_current_caps(GST_PAD(g_value_get_object(&item)));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(pads);
    gst_object_unref(decoder);
    GstCaps* now = gst_pad_get_current_caps(output);
    const bool same = !now || !next || gst_caps_is_equal(now, next);
    for (GstCaps* caps : {now, next})
        if (caps)
            gst_caps_unref(caps);
    return same;
}

} // namespace

// Whether the front of `taken` is still what follows the playing file, and can follow it
// in the same output. If not, the event becomes the end of the stream: the output plays
// out what it has, the pipeline posts EOS, and everything after is thrown away; the file
// that is to follow is then opened anew. Called with nextMutex held.
bool GstPlayer::Session::decideJoint(GstPad* pad, GstPadProbeInfo* info) {
    const Taken& next = taken.front();
    const std::optional<QueuedFile> wanted = follows(playingCue);
    if (!next.failed && wanted && *wanted == next.file && sameFormat(pad, next.source)) {
        accepted = true;
        Report r(Report::Joint);
        r.cue = next.file.cue;
        r.path = next.file.path;
        report(r);
        return true;
    }
    dropping = true;
    gst_event_unref(GST_PAD_PROBE_INFO_EVENT(info));
    GST_PAD_PROBE_INFO_DATA(info) = gst_event_new_eos();
    return false;
}

// An error from the decoder of a file taken but not sounding yet is that file's: every
// decoder of the playing file has finished by the time the next one is taken.
std::optional<GstPlayer::Report> GstPlayer::Session::nextFailure(GstObject* source, const Failure& failure) {
    std::lock_guard lock(nextMutex);
    if (taken.empty() || failure.fromSink)
        return std::nullopt;
    Taken* culprit = nullptr;
    for (Taken& t : taken)
        if (t.bin && (source == t.bin || gst_object_has_as_ancestor(source, t.bin)))
            culprit = &t;
    if (!culprit) {
        // A decoder made before its source was: the newest file taken.
        bool fromDecoder = false;
        for (GstObject* o = source; o && !fromDecoder; o = GST_OBJECT_PARENT(o))
            fromDecoder = GST_IS_ELEMENT(o) && hasFactory(GST_ELEMENT(o), "uridecodebin");
        if (!fromDecoder)
            return std::nullopt;
        culprit = &taken.back();
    }
    Report r(Report::NextFailed);
    r.cue = culprit->file.cue;
    r.path = culprit->file.path;
    r.message = describe(failure, QStringLiteral("No se puede reproducir"), culprit->file.path, QString());
    r.ended = accepted && culprit == &taken.front();
    if (std::exchange(culprit->failed, true))
        r.cue = 0; // told already
    return r;
}

// A STREAM_START message: if a file taken has just reached the output, it is now the one
// that plays.
void GstPlayer::Session::streamStart() {
    std::optional<QueuedFile> file;
    {
        std::lock_guard lock(nextMutex);
        file = std::exchange(streamStarted, std::nullopt);
        if (file)
            trueSeconds = planned.value(file->path).seconds;
    }
    if (!file)
        return;
    tellHeldStart();
    measuring = false; // this one was measured before it was queued
    path = file->path;
    missingDecoder.clear();
    Report r(Report::HandedOver);
    r.path = file->path;
    r.cue = file->cue;
    r.duration = duration();
    report(r);
}

} // namespace melofon::playback
