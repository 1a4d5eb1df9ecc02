// The worker of a session: it drives one playbin through its files, from the jobs the player
// queues and the messages the pipeline posts, and reports what happened.

#include "playback/gst_session.h"

#include "playback/gst_wav_source.h"

#include <QFile>

#include <malloc.h>

#include <chrono>

namespace melofon::playback {

namespace {

// playbin's GstPlayFlags are not in any header: audio, with the volume applied in software.
constexpr guint kPlayFlags = (1u << 1) | (1u << 4);
// How often a playing file's position is read for the player's thread.
constexpr auto kPositionEvery = std::chrono::milliseconds(500);

double toSeconds(gint64 nanoseconds) { return double(nanoseconds) / double(GST_SECOND); }

gint64 steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

GstPlayer::Session::~Session() {
    for (Job& job : jobs)
        if (job.message)
            gst_message_unref(job.message);
    clearHandover();
}

void GstPlayer::Session::push(Job job) {
    std::lock_guard lock(mutex);
    // Play right after Open rides along with it: one wake-up of the worker, not two.
    if (job.kind == Job::Play && !jobs.empty() && jobs.back().kind == Job::Open) {
        jobs.back().play = true;
        return;
    }
    jobs.push_back(std::move(job));
    changed.notify_one();
}

bool GstPlayer::Session::reusable() {
    std::lock_guard lock(mutex);
    return !executing && jobs.empty() && settled && !finished;
}

void GstPlayer::Session::detach() {
    std::lock_guard lock(linkMutex);
    target = nullptr;
}

void GstPlayer::Session::report(Report r) {
    r.session = id;
    r.open = open;
    std::lock_guard lock(linkMutex);
    if (!target)
        return;
    QMetaObject::invokeMethod(target, [to = deliver, r] { to(r); }, Qt::QueuedConnection);
}

void GstPlayer::Session::run(std::shared_ptr<Session> self) {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(self->mutex);
            while (self->jobs.empty()) {
                if (self->phase != Playing) {
                    self->changed.wait(lock);
                } else if (!self->changed.wait_for(lock, kPositionEvery, [&] { return !self->jobs.empty(); })) {
                    lock.unlock();
                    self->samplePosition();
                    self->endIfRefusedJointIsOver();
                    self->stopWaitingForLength();
                    lock.lock();
                }
            }
            job = std::move(self->jobs.front());
            self->jobs.pop_front();
            self->executing = true;
        }
        const bool quit = job.kind == Job::Quit;
        self->execute(job);
        {
            std::lock_guard lock(self->mutex);
            self->executing = false;
        }
        if (quit)
            break;
    }
    self->teardown();
    std::lock_guard lock(self->mutex);
    self->finished = true;
    self->ended.notify_all();
}

void GstPlayer::Session::execute(Job& job) {
    switch (job.kind) {
    case Job::Open:
        openFile(job.open, job.path, job.volume);
        if (job.play)
            play();
        break;
    case Job::Play:
        engineHeld = false;
        play();
        break;
    case Job::Pause:
        engineHeld = false;
        pause();
        break;
    case Job::Stop:
        engineHeld = false;
        stop();
        break;
    case Job::Close:
        reset(GST_STATE_NULL);
        phase = None;
        break;
    case Job::Volume:
        volume = job.volume;
        applyVolume();
        break;
    case Job::Measured:
        measured(job.open, job.seconds);
        break;
    case Job::Message:
        if (job.epoch == epoch.load())
            handle(job.message);
        gst_message_unref(job.message);
        job.message = nullptr;
        break;
    case Job::Quit:
        break;
    }
}

void GstPlayer::Session::teardown() {
    GstElement* p = pipeline.load();
    if (!p)
        return;
    gst_element_set_state(p, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(p);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    pipeline.store(nullptr);
    clearHandover();
    gst_object_unref(p);
}

// READY and NULL are reached once the streaming threads are joined; what they posted about
// the file before is of no more use.
void GstPlayer::Session::reset(GstState target) {
    if (GstElement* p = pipeline.load())
        gst_element_set_state(p, target);
    // A synthesizer's soundfont, freed on a streaming thread, would stay in that thread's
    // malloc arena, and the next file's be loaded into another's.
    if (target == GST_STATE_NULL)
        malloc_trim(0);
    ++epoch;
    missingDecoder.clear();
    buffering = false;
    positionNs = 0;
    clearHandover();
}

// Where a file that is not playing waits. READY keeps the pipeline's elements for the next
// file; a MIDI synthesizer is let go at once, soundfont and all, down in NULL.
GstState GstPlayer::Session::idleState() const {
    std::lock_guard lock(nextMutex);
    return handoverAllowed ? GST_STATE_READY : GST_STATE_NULL;
}

void GstPlayer::Session::fail(const QString& message) {
    Report r(Report::Failed);
    r.message = message;
    report(r);
    std::lock_guard lock(mutex);
    settled = true;
}

void GstPlayer::Session::failWith(const Failure& failure, const QString& what) {
    const QString message = describe(failure, what, path, missingDecoder);
    const Phase was = phase;
    // Down to NULL: a failed stream's threads may still be posting about it after READY.
    reset(GST_STATE_NULL);
    phase = was == Prerolling ? None : Rewound;
    fail(message);
}

// GStreamer is started here, with the first file: a window that plays nothing never loads it.
bool GstPlayer::Session::makePipeline(QString& why) {
    if (pipeline.load())
        return true;
    startGStreamer(engineStarted);
    const auto unavailable = [&] {
        if (why.isEmpty()) {
            why = QStringLiteral("no se pudo preparar la salida de sonido.");
            return false;
        }
        Report r(Report::Unavailable);
        r.message = why;
        report(r);
        return false;
    };
    GstElement* p = gst_element_factory_make("playbin", nullptr);
    if (!p) {
        why = QStringLiteral("No se puede reproducir sonido: falta el reproductor de GStreamer (playbin), del "
                             "paquete gstreamer1.0-plugins-base.");
        return unavailable();
    }
    GstElement* output = makeOutput(why);
    if (!output) {
        gst_object_unref(gst_object_ref_sink(p));
        return unavailable();
    }
    // A video stream still looks for a real video output unless given one, which can take
    // seconds; this one is never fed, the video flag being off.
    GstElement* videoSink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(p, "flags", kPlayFlags, "audio-sink", output, "video-sink", videoSink, nullptr);
    sink = output;
    if (GstPad* pad = gst_element_get_static_pad(output, "sink")) {
        gst_pad_add_probe(
            pad, GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM,
            [](GstPad* pad, GstPadProbeInfo* info, gpointer self) {
                return static_cast<Session*>(self)->atOutput(pad, info);
            },
            this, nullptr);
        gst_object_unref(pad);
    }
    g_signal_connect(p, "element-setup", G_CALLBACK(+[](GstElement*, GstElement* element, gpointer self) {
                         static_cast<Session*>(self)->setUp(element);
                     }),
                     this);
    g_signal_connect(p, "about-to-finish",
                     G_CALLBACK(+[](GstElement* bin, gpointer self) { static_cast<Session*>(self)->handOver(bin); }),
                     this);
    g_signal_connect(p, "source-setup", G_CALLBACK(+[](GstElement*, GstElement* source, gpointer self) {
                         static_cast<Session*>(self)->sourceSetUp(source);
                     }),
                     this);
    GstBus* bus = gst_element_get_bus(p);
    gst_bus_set_sync_handler(
        bus,
        [](GstBus*, GstMessage* message, gpointer self) {
            auto* s = static_cast<Session*>(self);
            if (s->wanted(message)) {
                Job job(Job::Message);
                job.message = message;
                job.epoch = s->epoch.load();
                s->push(std::move(job));
            } else {
                gst_message_unref(message);
            }
            return GST_BUS_DROP;
        },
        this, nullptr);
    gst_object_unref(bus);
    pipeline.store(p);
    return true;
}

bool GstPlayer::Session::wanted(GstMessage* message) const {
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_ERROR:
    case GST_MESSAGE_WARNING:
    case GST_MESSAGE_DURATION_CHANGED:
    case GST_MESSAGE_CLOCK_LOST:
    case GST_MESSAGE_ASYNC_DONE:
    case GST_MESSAGE_STREAM_START:
    case GST_MESSAGE_LATENCY:
    case GST_MESSAGE_REQUEST_STATE:
    case GST_MESSAGE_BUFFERING:
        return true;
    case GST_MESSAGE_STATE_CHANGED:
        return GST_MESSAGE_SRC(message) == GST_OBJECT(pipeline.load()) || GST_MESSAGE_SRC(message) == GST_OBJECT(sink);
    case GST_MESSAGE_TAG:
        // Those that reach the output come in order with the file's samples; a decoder's
        // may be of the next file, read ahead.
        return sink && (GST_MESSAGE_SRC(message) == GST_OBJECT(sink) ||
                        gst_object_has_as_ancestor(GST_MESSAGE_SRC(message), GST_OBJECT(sink)));
    case GST_MESSAGE_ELEMENT: {
        const GstStructure* s = gst_message_get_structure(message);
        return s && gst_structure_has_name(s, "missing-plugin");
    }
    default:
        return false;
    }
}

void GstPlayer::Session::applyVolume() {
    if (GstElement* p = pipeline.load()) {
        const double g = gainOf(volume);
        g_object_set(p, "volume", g, nullptr);
        gain = g;
    }
}

void GstPlayer::Session::openFile(quint64 number, const QString& file, int level, bool handOver) {
    if (phase != None)
        reset(idleState());
    {
        std::lock_guard lock(mutex);
        settled = false;
    }
    open = number;
    path = file;
    volume = level;
    phase = None;
    wantPlay = wantPause = startReported = engineHeld = startHeld = measuring = false;
    trueSeconds = 0;
    // The file system is looked at here, on the worker, never on the player's thread: a
    // file on a share that does not answer holds this worker alone.
    const QString refusal = refusalOf(file);
    if (!refusal.isEmpty())
        return fail(QStringLiteral("No se puede abrir %1: %2").arg(quoted(file), refusal));
    const SoundFile found = examine(file);
    QString why;
    if (!makePipeline(why))
        return fail(QStringLiteral("No se puede abrir %1: %2").arg(quoted(file), why));
    QByteArray uri;
    if (found.kind == SoundFile::Wav) {
        uri = sndfileUri(file).toUtf8();
        trueSeconds = found.seconds;
    } else {
        GError* error = nullptr;
        gchar* fileUri = gst_filename_to_uri(QFile::encodeName(file).constData(), &error);
        const QString why = error ? fromUtf8(error->message) : QString();
        g_clear_error(&error);
        if (!fileUri)
            return fail(QStringLiteral("No se puede abrir %1: %2").arg(quoted(file), why));
        uri = fileUri;
        g_free(fileUri);
    }
    if (found.kind == SoundFile::Mp3)
        startMeasuring(file);
    GstElement* p = pipeline.load();
    g_object_set(p, "uri", uri.constData(), nullptr);
    applyVolume();
    beginFile(found.kind == SoundFile::Midi || !handOver);
    phase = Prerolling;
    // Prerolling makes a file that cannot be played fail before it is started; its error
    // arrives as a bus message like any other.
    gst_element_set_state(p, GST_STATE_PAUSED);
}

void GstPlayer::Session::prerolled() {
    GstElement* p = pipeline.load();
    gint audioStreams = 0;
    g_object_get(p, "n-audio", &audioStreams, nullptr);
    bool seen = false;
    {
        // Once the next file is taken, playbin counts that one's streams.
        std::lock_guard lock(nextMutex);
        seen = audioSeen;
    }
    if (audioStreams == 0 && !seen) {
        reset(GST_STATE_NULL);
        phase = None;
        return fail(QStringLiteral("No se puede abrir %1: no es un archivo de sonido que se pueda reproducir.")
                        .arg(quoted(path)));
    }
    Report r(Report::Prerolled);
    r.duration = measuring ? 0 : duration();
    report(r);
    {
        std::lock_guard lock(mutex);
        settled = true;
    }
    if (silentFallback())
        report(Report(Report::NoOutput));
    phase = Ready;
    if (wantPlay)
        play();
    else if (wantPause)
        phase = Paused;
}

double GstPlayer::Session::duration() const {
    if (trueSeconds > 0)
        return trueSeconds;
    gint64 nanoseconds = 0;
    if (!gst_element_query_duration(pipeline.load(), GST_FORMAT_TIME, &nanoseconds) || nanoseconds <= 0)
        return 0;
    return toSeconds(nanoseconds);
}

// autoaudiosink settles for a sink that plays nothing when no output works at all.
bool GstPlayer::Session::silentFallback() const {
    bool silent = false;
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(pipeline.load()));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        if (hasFactory(element, "autoaudiosink") && GST_IS_BIN(element)) {
            GstIterator* children = gst_bin_iterate_elements(GST_BIN(element));
            GValue child = G_VALUE_INIT;
            while (gst_iterator_next(children, &child) == GST_ITERATOR_OK) {
                silent = silent || hasFactory(GST_ELEMENT(g_value_get_object(&child)), "fakesink");
                g_value_reset(&child);
            }
            g_value_unset(&child);
            gst_iterator_free(children);
        }
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return silent;
}

void GstPlayer::Session::play() {
    GstElement* p = pipeline.load();
    switch (phase) {
    case Prerolling:
        wantPlay = true;
        wantPause = false;
        return;
    case Rewound:
        // After Stop or the end the file is prerolled again, from the start.
        wantPlay = true;
        wantPause = false;
        startReported = false;
        phase = Prerolling;
        {
            std::lock_guard lock(mutex);
            settled = false;
        }
        beginFile(!handoverAllowed);
        gst_element_set_state(p, GST_STATE_PAUSED);
        return;
    case Ready:
    case Paused:
        phase = Playing;
        gst_element_set_state(p, GST_STATE_PLAYING);
        samplePosition();
        return;
    case None:
    case Playing:
        return;
    }
}

void GstPlayer::Session::pause() {
    if (phase == Prerolling) {
        wantPlay = false;
        wantPause = true;
    } else if (phase == Playing) {
        phase = Paused;
        gst_element_set_state(pipeline.load(), GST_STATE_PAUSED);
        samplePosition();
    }
}

void GstPlayer::Session::stop() {
    wantPlay = wantPause = false;
    if (phase == None || phase == Rewound)
        return;
    reset(idleState());
    phase = Rewound;
    std::lock_guard lock(mutex);
    settled = true;
}

void GstPlayer::Session::samplePosition() {
    gint64 position = 0;
    GstElement* p = pipeline.load();
    if (!p || !gst_element_query_position(p, GST_FORMAT_TIME, &position) || position < 0)
        return;
    positionNs = position;
    positionAtNs = steadyNs();
}

void GstPlayer::Session::finishFile() {
    tellHeldStart();
    // At its end the parser knows the length exactly, where we did not know it better.
    if (const double d = duration(); d > 0 && trueSeconds == 0) {
        Report r(Report::DurationChanged);
        r.duration = d;
        report(r);
    }
    bool refused = false;
    {
        std::lock_guard lock(nextMutex);
        refused = dropping;
    }
    // After a refused joint a streaming thread may still be opening the file it was given,
    // which the reset waits for: the end is told first.
    if (refused)
        report(Report(Report::Ended));
    reset(idleState());
    phase = Rewound;
    if (!refused)
        report(Report(Report::Ended));
}

// After a refused joint the output was given the end of the stream, but the pipeline does
// not always say so: a file taken that failed leaves playbin waiting for it, and the end is
// never posted; when the failure comes early enough, not even the joint reaches the output.
// The playing file is over when its position stops moving.
void GstPlayer::Session::endIfRefusedJointIsOver() {
    {
        std::lock_guard lock(nextMutex);
        if (!dropping && (accepted || taken.empty() || !taken.front().failed)) {
            positionWhenDropping = -1;
            return;
        }
    }
    const gint64 now = positionNs.load();
    if (std::exchange(positionWhenDropping, now) == now && phase == Playing)
        finishFile();
}

void GstPlayer::Session::tellState(int state) {
    Report r(Report::EngineState);
    r.state = state;
    report(r);
}

} // namespace melofon::playback

