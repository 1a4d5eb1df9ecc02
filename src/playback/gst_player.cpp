#include "playback/gst_player.h"

#include "playback/mp3_duration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QtDebug>

#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace melofon::playback {

namespace {

// playbin's GstPlayFlags are not in any header: audio, with the volume applied in software.
constexpr guint kPlayFlags = (1u << 1) | (1u << 4);
// How long a closing player waits for its sessions to let their pipelines go.
constexpr auto kTeardownWait = std::chrono::seconds(2);

void initGStreamer() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

QString quoted(const QString& path) {
    return QStringLiteral("«%1»").arg(QDir::toNativeSeparators(path));
}

QString fromUtf8(const char* text) { return QString::fromUtf8(text ? text : ""); }

double toSeconds(gint64 nanoseconds) { return double(nanoseconds) / double(GST_SECOND); }

bool hasFactory(GstElement* element, const char* name) {
    GstElementFactory* factory = gst_element_get_factory(element);
    return factory && std::strcmp(GST_OBJECT_NAME(factory), name) == 0;
}

// The reason a path is no file to play, or empty. Only regular files are opened: a FIFO or
// a device would block the reader until someone writes to it.
QString refusalOf(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("el archivo no existe.");
    if (info.isDir())
        return QStringLiteral("es una carpeta, no un archivo.");
    if (!info.isFile())
        return QStringLiteral("no es un archivo normal (es una tubería, un dispositivo o un socket).");
    if (info.size() == 0)
        return QStringLiteral("el archivo está vacío.");
    return {};
}

// Why a pipeline stopped: what its error message said and where it came from.
struct Failure {
    GQuark domain = 0;
    int code = 0;
    QString detail;
    bool fromSink = false;
    bool fromSynthesizer = false;
};

QString describe(const Failure& failure, const QString& what, const QString& file,
                 const QString& missingDecoder) {
    const QString head = QStringLiteral("%1 %2: ").arg(what, quoted(file));
    if (failure.fromSynthesizer || missingDecoder.startsWith(QStringLiteral("audio/x-midi")) ||
        missingDecoder.startsWith(QStringLiteral("audio/midi")))
        return head + QStringLiteral(
                          "para los archivos MIDI hace falta una fuente de sonidos General MIDI "
                          "(soundfont), como la del paquete timgm6mb-soundfont.");
    if (!missingDecoder.isEmpty())
        return head + QStringLiteral("falta el complemento de GStreamer que descodifica «%1».")
                          .arg(missingDecoder);
    if (failure.fromSink)
        return head + QStringLiteral("no hay salida de sonido disponible (%1).").arg(failure.detail);
    if (failure.domain == GST_RESOURCE_ERROR) {
        if (failure.code == GST_RESOURCE_ERROR_NOT_FOUND)
            return head + QStringLiteral("el archivo no existe.");
        if (failure.code == GST_RESOURCE_ERROR_OPEN_READ || failure.code == GST_RESOURCE_ERROR_READ ||
            failure.code == GST_RESOURCE_ERROR_NOT_AUTHORIZED)
            return head + QStringLiteral("no se puede leer el archivo.");
    }
    if (failure.domain == GST_STREAM_ERROR)
        return head + QStringLiteral("no es un archivo de sonido que se pueda reproducir.");
    if (failure.domain == GST_CORE_ERROR && failure.code == GST_CORE_ERROR_MISSING_PLUGIN)
        return head + QStringLiteral("falta un complemento de GStreamer para este tipo de archivo.");
    return head + (failure.detail.isEmpty() ? QStringLiteral("error desconocido.") : failure.detail);
}

} // namespace

struct GstPlayer::Report {
    enum Kind { Prerolled, Started, Ended, Failed, DurationChanged, NoOutput };
    explicit Report(Kind k) : kind(k) {}
    Kind kind;
    quint64 session = 0;
    quint64 open = 0;
    double duration = 0;
    bool estimated = false;
    bool handedOver = false;
    int file = 0;    // of the open: 0 the file opened, then one more for each hand-over
    QString path;    // of a file handed over
    QString message; // why it failed
};

// One pipeline and the worker thread that drives it. The player's thread queues commands;
// GStreamer's threads queue their bus messages into the same queue; the worker takes them
// in order and reports back. The worker holds the session alive until it has let its
// pipeline go, however long that takes.
struct GstPlayer::Session {
    struct Job {
        enum Kind { Open, Play, Pause, Stop, Close, Volume, Message, Quit };
        Job(Kind k = Quit) : kind(k) {}
        Kind kind;
        quint64 open = 0;
        QString path;
        int volume = 0;
        bool play = false; // an Open to be played once open
        GstMessage* message = nullptr;
        unsigned epoch = 0;
    };

    quint64 id = 0;
    SinkFactory makeSink;
    QByteArray soundfont;

    // The link back to the player; cleared when the player lets the session go.
    std::mutex linkMutex;
    PlayerNotifier* target = nullptr;
    GstPlayer* player = nullptr;

    std::mutex mutex;
    std::condition_variable changed; // a job for the worker
    std::condition_variable ended;   // the worker is done
    std::deque<Job> jobs;
    bool executing = false;
    bool settled = true; // no open is in progress
    bool finished = false;

    // Published once made, for position and volume queries from the player's thread.
    std::atomic<GstElement*> pipeline{nullptr};
    // Messages posted before the last reset of the pipeline are about a file gone.
    std::atomic<unsigned> epoch{0};

    // The gapless hand-over, shared with the streaming thread that asks for the next file.
    // A short file is read to its end long before it has been heard, so the thread waits
    // until the player has been told the file started and had its say about the next.
    std::mutex nextMutex;
    std::condition_variable decision;
    QString next;
    QString handedOver; // taken, its stream not started yet
    int filesSet = 0;   // files of this open given to the pipeline
    int decided = -1;   // the last of them whose start the player has seen
    bool cancelled = false;
    int handoversStarted = 0;

    // The worker's own state.
    enum Phase { None, Prerolling, Ready, Playing, Paused, Rewound } phase = None;
    quint64 open = 0;
    QString path;
    bool wantPlay = false;
    bool wantPause = false;
    bool startReported = false;
    bool buffering = false;
    int volume = 0;
    QString missingDecoder; // caps of a stream no decoder could take, for the message
    GstElement* sink = nullptr;

    ~Session() {
        for (Job& job : jobs)
            if (job.message)
                gst_message_unref(job.message);
    }

    void push(Job job) {
        std::lock_guard lock(mutex);
        // Play right after Open rides along with it: one wake-up of the worker, not two.
        if (job.kind == Job::Play && !jobs.empty() && jobs.back().kind == Job::Open) {
            jobs.back().play = true;
            return;
        }
        jobs.push_back(std::move(job));
        changed.notify_one();
    }
    bool reusable() {
        std::lock_guard lock(mutex);
        return !executing && jobs.empty() && settled && !finished;
    }
    void detach() {
        std::lock_guard lock(linkMutex);
        target = nullptr;
        player = nullptr;
    }
    void report(Report r) {
        r.session = id;
        r.open = open;
        std::lock_guard lock(linkMutex);
        if (!target)
            return;
        GstPlayer* p = player;
        QMetaObject::invokeMethod(target, [p, r] { p->deliver(r); }, Qt::QueuedConnection);
    }

    static void run(std::shared_ptr<Session> self) {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(self->mutex);
                self->changed.wait(lock, [&] { return !self->jobs.empty(); });
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

    void execute(Job& job) {
        switch (job.kind) {
        case Job::Open:
            openFile(job.open, job.path, job.volume);
            if (job.play)
                play();
            break;
        case Job::Play:
            play();
            break;
        case Job::Pause:
            pause();
            break;
        case Job::Stop:
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

    void teardown() {
        GstElement* p = pipeline.load();
        if (!p)
            return;
        cancelHandover();
        gst_element_set_state(p, GST_STATE_NULL);
        GstBus* bus = gst_element_get_bus(p);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        pipeline.store(nullptr);
        gst_object_unref(p);
    }

    // READY and NULL are reached once the streaming threads are joined; what they posted
    // about the file before is of no more use.
    void reset(GstState target) {
        cancelHandover();
        if (GstElement* p = pipeline.load())
            gst_element_set_state(p, target);
        ++epoch;
        missingDecoder.clear();
        buffering = false;
        std::lock_guard lock(nextMutex);
        handedOver.clear();
        next.clear();
    }
    // Before the pipeline is reset: a streaming thread waiting for a decision would hold the
    // reset up.
    void cancelHandover() {
        std::lock_guard lock(nextMutex);
        cancelled = true;
        decision.notify_all();
    }
    void beginFile() {
        std::lock_guard lock(nextMutex);
        cancelled = false;
        filesSet = 1;
        decided = -1;
        handoversStarted = 0;
    }

    void fail(const QString& message) {
        Report r(Report::Failed);
        r.message = message;
        report(r);
        {
            std::lock_guard lock(mutex);
            settled = true;
        }
    }
    void failWith(const Failure& failure, const QString& what) {
        const QString message = describe(failure, what, path, missingDecoder);
        const Phase was = phase;
        // Down to NULL: a failed stream's threads may still be posting about it after READY.
        reset(GST_STATE_NULL);
        phase = was == Prerolling ? None : Rewound;
        fail(message);
    }

    bool makePipeline() {
        if (pipeline.load())
            return true;
        GstElement* output = makeSink();
        if (!output)
            return false;
        GstElement* p = gst_element_factory_make("playbin", nullptr);
        if (!p) {
            gst_object_unref(gst_object_ref_sink(output));
            return false;
        }
        // A video stream still looks for a real video output unless given one, which can
        // take seconds; this one is never fed, the video flag being off.
        GstElement* videoSink = gst_element_factory_make("fakesink", nullptr);
        g_object_set(p, "flags", kPlayFlags, "audio-sink", output, "video-sink", videoSink, nullptr);
        sink = output;
        if (!soundfont.isEmpty()) {
            auto setSoundfont = +[](GstElement*, GstElement* element, gpointer path) {
                if (hasFactory(element, "fluiddec"))
                    g_object_set(element, "soundfont", static_cast<const char*>(path), nullptr);
            };
            g_signal_connect(p, "element-setup", G_CALLBACK(setSoundfont), soundfont.data());
        }
        g_signal_connect(p, "about-to-finish", G_CALLBACK(+[](GstElement* bin, gpointer self) {
                             static_cast<Session*>(self)->handOver(bin);
                         }),
                         this);
        GstBus* bus = gst_element_get_bus(p);
        gst_bus_set_sync_handler(
            bus,
            [](GstBus*, GstMessage* message, gpointer self) {
                auto* s = static_cast<Session*>(self);
                if (s->wanted(message))
                {
                    Job job(Job::Message);
                    job.message = message;
                    job.epoch = s->epoch.load();
                    s->push(std::move(job));
                }
                else
                    gst_message_unref(message);
                return GST_BUS_DROP;
            },
            this, nullptr);
        gst_object_unref(bus);
        pipeline.store(p);
        return true;
    }

    bool wanted(GstMessage* message) const {
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
            return GST_MESSAGE_SRC(message) == GST_OBJECT(pipeline.load());
        case GST_MESSAGE_ELEMENT: {
            const GstStructure* s = gst_message_get_structure(message);
            return s && gst_structure_has_name(s, "missing-plugin");
        }
        default:
            return false;
        }
    }

    void applyVolume() {
        if (GstElement* p = pipeline.load())
            g_object_set(p, "volume", std::pow(10.0, volume / 2000.0), nullptr); // 1/100 dB
    }

    void openFile(quint64 number, const QString& file, int level) {
        if (phase != None)
            reset(GST_STATE_READY);
        {
            std::lock_guard lock(mutex);
            settled = false;
        }
        open = number;
        path = file;
        volume = level;
        phase = None;
        wantPlay = wantPause = startReported = false;
        const QString refusal = refusalOf(file);
        if (!refusal.isEmpty())
            return fail(QStringLiteral("No se puede abrir %1: %2").arg(quoted(file), refusal));
        if (!makePipeline())
            return fail(QStringLiteral("No se puede abrir %1: no se pudo preparar la salida de sonido.")
                            .arg(quoted(file)));
        GError* error = nullptr;
        gchar* uri = gst_filename_to_uri(QFile::encodeName(file).constData(), &error);
        const QString why = error ? fromUtf8(error->message) : QString();
        g_clear_error(&error);
        if (!uri)
            return fail(QStringLiteral("No se puede abrir %1: %2").arg(quoted(file), why));
        GstElement* p = pipeline.load();
        g_object_set(p, "uri", uri, nullptr);
        g_free(uri);
        applyVolume();
        beginFile();
        phase = Prerolling;
        // Prerolling makes a file that cannot be played fail before it is started; its error
        // arrives as a bus message like any other.
        gst_element_set_state(p, GST_STATE_PAUSED);
    }

    void prerolled() {
        GstElement* p = pipeline.load();
        gint audioStreams = 0;
        g_object_get(p, "n-audio", &audioStreams, nullptr);
        if (audioStreams == 0) {
            reset(GST_STATE_NULL);
            phase = None;
            return fail(QStringLiteral("No se puede abrir %1: no es un archivo de sonido que se pueda reproducir.")
                            .arg(quoted(path)));
        }
        Report r(Report::Prerolled);
        r.duration = duration();
        if (r.duration == 0) {
            r.duration = estimateMp3Seconds(path);
            r.estimated = r.duration > 0;
        }
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

    double duration() const {
        gint64 nanoseconds = 0;
        if (!gst_element_query_duration(pipeline.load(), GST_FORMAT_TIME, &nanoseconds) ||
            nanoseconds <= 0)
            return 0;
        return toSeconds(nanoseconds);
    }

    // autoaudiosink settles for a sink that plays nothing when no output works at all.
    bool silentFallback() const {
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

    void play() {
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
            beginFile();
            gst_element_set_state(p, GST_STATE_PAUSED);
            return;
        case Ready:
        case Paused:
            phase = Playing;
            gst_element_set_state(p, GST_STATE_PLAYING);
            return;
        case None:
        case Playing:
            return;
        }
    }

    void pause() {
        if (phase == Prerolling) {
            wantPlay = false;
            wantPause = true;
        } else if (phase == Playing) {
            phase = Paused;
            gst_element_set_state(pipeline.load(), GST_STATE_PAUSED);
        }
    }

    void stop() {
        wantPlay = wantPause = false;
        if (phase == None || phase == Rewound)
            return;
        reset(GST_STATE_READY);
        phase = Rewound;
        std::lock_guard lock(mutex);
        settled = true;
    }

    // Called by a streaming thread when the current file has been read: the next file given
    // to the player, if any, is set now, and plays on from the same pipeline without a gap.
    void handOver(GstElement* bin) {
        std::unique_lock lock(nextMutex);
        const int ending = filesSet - 1;
        decision.wait_for(lock, std::chrono::seconds(3), [&] { return cancelled || decided >= ending; });
        if (cancelled || next.isEmpty())
            return;
        const QString file = std::exchange(next, QString());
        if (!refusalOf(file).isEmpty())
            return; // the player opens it the usual way after the end, and says why it cannot
        gchar* uri = gst_filename_to_uri(QFile::encodeName(file).constData(), nullptr);
        if (!uri)
            return;
        g_object_set(bin, "uri", uri, nullptr);
        g_free(uri);
        handedOver = file;
        ++filesSet;
    }

    void handle(GstMessage* message) {
        GstElement* p = pipeline.load();
        switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ASYNC_DONE:
            if (phase == Prerolling)
                prerolled();
            break;
        case GST_MESSAGE_STATE_CHANGED: {
            GstState old = GST_STATE_VOID_PENDING, now = GST_STATE_VOID_PENDING;
            gst_message_parse_state_changed(message, &old, &now, nullptr);
            if (now == GST_STATE_PLAYING && phase == Playing && !startReported) {
                startReported = true;
                Report r(Report::Started);
                r.duration = duration();
                report(r);
            }
            break;
        }
        case GST_MESSAGE_STREAM_START: {
            QString file;
            int index = 0;
            {
                std::lock_guard lock(nextMutex);
                file = std::exchange(handedOver, QString());
                index = file.isEmpty() ? 0 : ++handoversStarted;
            }
            if (file.isEmpty())
                break;
            path = file;
            missingDecoder.clear();
            Report r(Report::Started);
            r.handedOver = true;
            r.file = index;
            r.path = file;
            r.duration = duration();
            if (r.duration == 0) {
                r.duration = estimateMp3Seconds(file);
                r.estimated = r.duration > 0;
            }
            report(r);
            break;
        }
        case GST_MESSAGE_EOS:
            if (phase == Playing || phase == Paused) {
                // At its end the parser knows the length exactly.
                if (const double d = duration(); d > 0) {
                    Report r(Report::DurationChanged);
                    r.duration = d;
                    report(r);
                }
                reset(GST_STATE_READY);
                phase = Rewound;
                report(Report(Report::Ended));
            }
            break;
        case GST_MESSAGE_ERROR: {
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
            failure.fromSink = sink && (source == GST_OBJECT(sink) ||
                                        gst_object_has_as_ancestor(source, GST_OBJECT(sink)));
            failure.fromSynthesizer = GST_IS_ELEMENT(source) && hasFactory(GST_ELEMENT(source), "fluiddec");
            if (phase != None && phase != Rewound)
                failWith(failure, phase == Prerolling ? QStringLiteral("No se puede abrir")
                                                      : QStringLiteral("No se puede reproducir"));
            break;
        }
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
            // decodebin's "missing-plugin" names the stream it found no decoder for; for
            // MIDI that is what a synthesizer without a soundfont leaves behind.
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
        case GST_MESSAGE_REQUEST_STATE: {
            GstState requested = GST_STATE_VOID_PENDING;
            gst_message_parse_request_state(message, &requested);
            if (requested == GST_STATE_PAUSED && phase == Playing)
                pause();
            else if (requested == GST_STATE_PLAYING && phase == Paused)
                play();
            else if (requested <= GST_STATE_READY)
                stop();
            break;
        }
        case GST_MESSAGE_BUFFERING: {
            // A slow source: hold the file until enough of it has arrived.
            gint percent = 100;
            gst_message_parse_buffering(message, &percent);
            if (percent < 100 && !buffering && phase == Playing) {
                buffering = true;
                gst_element_set_state(p, GST_STATE_PAUSED);
            } else if (percent >= 100 && buffering) {
                buffering = false;
                if (phase == Playing)
                    gst_element_set_state(p, GST_STATE_PLAYING);
            }
            break;
        }
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
};

GstPlayer::GstPlayer(const QString& audioSink, const QString& soundfont) {
    initGStreamer();
    const QByteArray description = audioSink.toUtf8();
    // Tried once here, so that an output that cannot be made is said at start.
    GError* error = nullptr;
    GstElement* probe = gst_parse_bin_from_description(description.constData(), TRUE, &error);
    if (!probe)
        unavailable_ = QStringLiteral("No se puede preparar la salida de sonido «%1»: %2")
                           .arg(audioSink, error ? fromUtf8(error->message) : QString());
    else
        gst_object_unref(gst_object_ref_sink(probe));
    g_clear_error(&error);
    makeSink_ = [description] {
        return gst_parse_bin_from_description(description.constData(), TRUE, nullptr);
    };
    init(soundfont);
}

GstPlayer::GstPlayer(SinkFactory makeSink, const QString& soundfont) : makeSink_(std::move(makeSink)) {
    initGStreamer();
    init(soundfont);
}

void GstPlayer::init(const QString& soundfont) {
    notifier_ = std::make_unique<PlayerNotifier>();
    soundfont_ = QFile::encodeName(soundfont);
    if (GstElementFactory* playbin = gst_element_factory_find("playbin"))
        gst_object_unref(playbin);
    else
        unavailable_ = QStringLiteral(
            "No se puede reproducir sonido: falta el reproductor de GStreamer (playbin), del "
            "paquete gstreamer1.0-plugins-base.");
}

GstPlayer::~GstPlayer() {
    retire(session_);
    const auto deadline = std::chrono::steady_clock::now() + kTeardownWait;
    for (const auto& weak : retired_) {
        if (auto s = weak.lock()) {
            std::unique_lock lock(s->mutex);
            s->ended.wait_until(lock, deadline, [&] { return s->finished; });
        }
    }
}

std::shared_ptr<GstPlayer::Session> GstPlayer::session() {
    if (session_ && session_->reusable())
        return session_;
    retire(session_);
    auto s = std::make_shared<Session>();
    s->id = ++sessions_;
    s->makeSink = makeSink_;
    s->soundfont = soundfont_;
    s->target = notifier_.get();
    s->player = this;
    std::thread(&Session::run, s).detach();
    session_ = s;
    return s;
}

void GstPlayer::retire(const std::shared_ptr<Session>& s) {
    if (!s)
        return;
    s->detach();
    s->push(Session::Job::Quit);
    std::erase_if(retired_, [](const auto& weak) { return weak.expired(); });
    retired_.push_back(s);
    if (s == session_)
        session_.reset();
}

void GstPlayer::setFileName(const QString& path) {
    fileName_ = path;
    next_.clear();
    duration_ = 0;
    durationEstimated_ = false;
    lastError_.clear();
    workerOpen_ = ++opens_;
    playRequested_ = prerolled_ = false;
    state_ = path.isEmpty() ? Closed : Opening;
    notifyState_ = true;
    notifyLater();
    if (path.isEmpty()) {
        // Lets the pipeline go, and a MIDI synthesizer with it.
        if (session_)
            session_->push(Session::Job::Close);
        return;
    }
    if (!unavailable_.isEmpty()) {
        const quint64 open = opens_;
        const QString message = QStringLiteral("No se puede abrir %1: %2").arg(quoted(path), unavailable_);
        QMetaObject::invokeMethod(notifier_.get(), [this, open, message] {
            if (open != opens_)
                return;
            lastError_ = message;
            state_ = Closed;
            notifyState_ = true;
            emit notifier_->failed(open, message);
            flushNotifications();
        }, Qt::QueuedConnection);
        return;
    }
    Session::Job job(Session::Job::Open);
    job.open = opens_;
    job.path = path;
    job.volume = volume_;
    session()->push(std::move(job));
}

double GstPlayer::CurrentPosition() const {
    if ((state_ != Playing && state_ != Paused) || !session_)
        return 0;
    GstElement* p = session_->pipeline.load();
    gint64 position = 0;
    if (!p || !gst_element_query_position(p, GST_FORMAT_TIME, &position) || position < 0)
        return 0;
    return toSeconds(position);
}

void GstPlayer::setVolume(int volume) {
    volume_ = std::clamp(volume, int(kMinVolume), int(kMaxVolume));
    if (session_) {
        Session::Job job(Session::Job::Volume);
        job.volume = volume_;
        session_->push(std::move(job));
    }
}

double GstPlayer::appliedGain() const {
    GstElement* p = session_ ? session_->pipeline.load() : nullptr;
    if (!p)
        return -1;
    gdouble gain = 0;
    g_object_get(p, "volume", &gain, nullptr);
    return gain;
}

void GstPlayer::Play() {
    if (state_ == Closed)
        throw PlayerError(QStringLiteral("No hay ningún archivo abierto."));
    if (state_ == Playing || !session_)
        return;
    // From paused it plays on; otherwise it sounds once the worker says it has started.
    playRequested_ = true;
    state_ = state_ == Paused ? Playing : Opening;
    notifyState_ = true;
    notifyLater();
    session_->push(Session::Job::Play);
}

void GstPlayer::Pause() {
    if (state_ == Paused) {
        Play();
        return;
    }
    if ((state_ != Playing && state_ != Opening) || !session_)
        return;
    playRequested_ = false;
    state_ = Paused;
    notifyState_ = true;
    notifyLater();
    session_->push(Session::Job::Pause);
}

void GstPlayer::Stop() {
    if (state_ == Closed)
        return;
    next_.clear();
    playRequested_ = false;
    if (state_ != Stopped) {
        state_ = Stopped;
        notifyState_ = true;
        notifyLater();
    }
    if (session_)
        session_->push(Session::Job::Stop);
}

void GstPlayer::setNextFileName(const QString& path) {
    next_ = path;
    if (!session_)
        return;
    std::lock_guard lock(session_->nextMutex);
    session_->next = path;
}

void GstPlayer::deliver(const Report& r) {
    if (!session_ || r.session != session_->id || r.open != workerOpen_)
        return; // about a file or a pipeline since replaced
    QPointer<PlayerNotifier> notifier = notifier_.get();
    std::shared_ptr<Session> decides; // told once the receivers have had their say
    const auto setState = [&](int state) {
        notifyState_ = notifyState_ || state != state_;
        state_ = state;
    };
    const auto setDuration = [&](double seconds, bool estimated) {
        if (seconds <= 0 && duration_ > 0)
            return; // not known yet: keep what there is
        notifyDuration_ = notifyDuration_ || seconds != duration_ || estimated != durationEstimated_;
        duration_ = seconds;
        durationEstimated_ = estimated;
    };
    switch (r.kind) {
    case Report::Prerolled:
        prerolled_ = true;
        setDuration(r.duration, r.estimated);
        if (state_ == Opening && !playRequested_)
            setState(Stopped);
        break;
    case Report::Started:
        decides = session_;
        if (r.handedOver) {
            if (state_ != Playing && state_ != Paused)
                break; // stopped meanwhile
            fileName_ = r.path;
            next_.clear();
            ++opens_;
            setDuration(r.duration, r.estimated);
            emit notifier->started(opens_, true);
        } else {
            if (state_ == Stopped || state_ == Closed)
                break;
            if (state_ == Opening)
                setState(Playing);
            if (r.duration > 0)
                setDuration(r.duration, false);
            emit notifier->started(opens_, false);
        }
        break;
    case Report::Ended:
        if (state_ == Playing || state_ == Paused)
            setState(Stopped);
        break;
    case Report::Failed:
        lastError_ = r.message;
        setState(prerolled_ ? Stopped : Closed);
        if (!prerolled_)
            duration_ = 0;
        emit notifier->failed(opens_, r.message);
        break;
    case Report::DurationChanged:
        setDuration(r.duration, false);
        break;
    case Report::NoOutput:
        if (!std::exchange(toldNoOutput_, true))
            emit notifier->noAudioOutput(QStringLiteral(
                "No se encontró ninguna salida de sonido (PulseAudio, PipeWire o ALSA): los "
                "archivos se reproducen sin que se oiga nada."));
        break;
    }
    if (decides) {
        std::lock_guard lock(decides->nextMutex);
        decides->decided = std::max(decides->decided, r.file);
        decides->decision.notify_all();
    }
    if (notifier)
        flushNotifications();
}

void GstPlayer::notifyLater() {
    if (std::exchange(notifyPosted_, true))
        return;
    QMetaObject::invokeMethod(notifier_.get(), [this] { flushNotifications(); }, Qt::QueuedConnection);
}

void GstPlayer::flushNotifications() {
    notifyPosted_ = false;
    // Last, and without touching the player after: a receiver may delete it.
    const bool duration = std::exchange(notifyDuration_, false);
    const bool state = std::exchange(notifyState_, false);
    QPointer<PlayerNotifier> notifier = notifier_.get();
    if (duration)
        emit notifier->durationChanged();
    if (state && notifier)
        emit notifier->stateChanged();
}

} // namespace melofon::playback
