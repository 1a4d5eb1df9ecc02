#include "playback/gst_player.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

namespace melofon::playback {

namespace {

// Long enough for a slow disk and a large soundfont; a file that takes longer is broken.
constexpr gint64 kWaitMicroseconds = 5'000'000;
// playbin's GstPlayFlags are not in any header: audio, with the volume applied in software.
constexpr guint kPlayFlags = (1u << 1) | (1u << 4);

void initGStreamer() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

QString quoted(const QString& path) {
    return QStringLiteral("«%1»").arg(QDir::toNativeSeparators(path));
}

QString fromUtf8(const char* text) { return QString::fromUtf8(text ? text : ""); }

double toSeconds(gint64 nanoseconds) { return double(nanoseconds) / double(GST_SECOND); }

// One MPEG audio Layer III frame header: its length in bytes and the samples it holds.
struct Mp3Frame {
    int bytes = 0;
    int samples = 0;
    int rate = 0;
};

bool parseMp3Header(const unsigned char* h, Mp3Frame& frame) {
    static constexpr int kMpeg1Kbps[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                           112, 128, 160, 192, 224, 256, 320, 0};
    static constexpr int kMpeg2Kbps[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                           64, 80, 96, 112, 128, 144, 160, 0};
    static constexpr int kRates[3] = {44100, 48000, 32000};
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return false;
    const int version = (h[1] >> 3) & 3; // 0: 2.5, 1: reserved, 2: 2, 3: 1
    const int layer = (h[1] >> 1) & 3;   // 1: Layer III
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (version == 1 || layer != 1 || rateIndex == 3)
        return false;
    const int kbps = version == 3 ? kMpeg1Kbps[bitrateIndex] : kMpeg2Kbps[bitrateIndex];
    if (kbps == 0)
        return false;
    frame.rate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    frame.samples = version == 3 ? 1152 : 576;
    frame.bytes = frame.samples / 8 * kbps * 1000 / frame.rate + ((h[2] >> 1) & 1);
    return true;
}

// Seconds of MP3 audio in the file, reckoned from its size and the frames in its first
// 64 KiB; 0 when it does not hold MP3 frames. GStreamer's parser gives no duration for an
// MP3 without a VBR header until it has read a good part of it, in real time.
double estimateMp3Seconds(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    qint64 start = 0;
    const QByteArray id3 = file.read(10);
    if (id3.size() == 10 && id3.startsWith("ID3")) {
        const auto b = [&](int i) { return qint64(static_cast<unsigned char>(id3[i]) & 0x7F); };
        start = 10 + (b(6) << 21 | b(7) << 14 | b(8) << 7 | b(9)) + ((id3[5] & 0x10) ? 10 : 0);
    }
    qint64 end = file.size();
    if (end - start >= 128 && file.seek(end - 128) && file.read(3) == "TAG")
        end -= 128; // ID3v1
    if (!file.seek(start))
        return 0;
    const QByteArray head = file.read(64 * 1024);
    const auto* data = reinterpret_cast<const unsigned char*>(head.constData());
    const int size = int(head.size());

    // The first header whose successor is where its length says: a lone 0xFFE is no sync.
    Mp3Frame frame, next;
    int first = 0;
    for (; first + 4 <= size; ++first) {
        if (!parseMp3Header(data + first, frame))
            continue;
        const int following = first + frame.bytes;
        if (following + 4 <= size && parseMp3Header(data + following, next))
            break;
    }
    qint64 bytes = 0, samples = 0;
    int frames = 0;
    for (int at = first; at + 4 <= size && parseMp3Header(data + at, frame); at += frame.bytes) {
        if (at + frame.bytes > size)
            break;
        bytes += frame.bytes;
        samples += frame.samples;
        ++frames;
    }
    if (frames < 4)
        return 0;
    return double(samples) / frame.rate * double(end - start - first) / double(bytes);
}

} // namespace

// GStreamer's threads hand every message to the bus's sync handler, which queues it here
// and posts one wake-up at a time to the player's thread. The queue is ours rather than the
// bus's because the sync handler runs before the bus queues the message: a wake-up posted
// from it can find the bus still empty, and the message would then wait for the next one.
struct GstPlayer::Wake {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<GstMessage*> messages;
    GstPlayer* player = nullptr; // cleared before the player goes
    GstElement* pipeline = nullptr;
    bool posted = false;

    ~Wake() { clear(); }

    // Only what the player reads is queued: fewer wake-ups, and a queued message keeps its
    // source element alive.
    bool wanted(GstMessage* message) const {
        switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_EOS:
        case GST_MESSAGE_ERROR:
        case GST_MESSAGE_DURATION_CHANGED:
        case GST_MESSAGE_CLOCK_LOST:
        case GST_MESSAGE_ASYNC_DONE:
            return true;
        case GST_MESSAGE_STATE_CHANGED:
            return GST_MESSAGE_SRC(message) == GST_OBJECT(pipeline);
        case GST_MESSAGE_ELEMENT: {
            const GstStructure* s = gst_message_get_structure(message);
            return s && gst_structure_has_name(s, "missing-plugin");
        }
        default:
            return false;
        }
    }

    void postLocked() {
        if (posted || !player)
            return;
        posted = true;
        GstPlayer* p = player;
        QMetaObject::invokeMethod(p->notifier_.get(), [p] { p->wake(); }, Qt::QueuedConnection);
    }
    // Takes the message over: the sync handler drops it from the bus.
    void push(GstMessage* message) {
        if (!wanted(message)) {
            gst_message_unref(message);
            return;
        }
        std::lock_guard lock(mutex);
        messages.push_back(message);
        postLocked();
        arrived.notify_all();
    }
    // The next message, waiting for one until `deadline` (monotonic microseconds).
    GstMessage* pop(gint64 deadline = 0) {
        std::unique_lock lock(mutex);
        while (messages.empty()) {
            const gint64 left = deadline - g_get_monotonic_time();
            if (left <= 0)
                return nullptr;
            arrived.wait_for(lock, std::chrono::microseconds(left));
        }
        GstMessage* message = messages.front();
        messages.pop_front();
        return message;
    }
    void clear() {
        std::deque<GstMessage*> old;
        {
            std::lock_guard lock(mutex);
            old.swap(messages);
        }
        for (GstMessage* message : old)
            gst_message_unref(message);
    }
};

struct GstPlayer::Failure {
    bool failed = false;
    bool timedOut = false;
    GQuark domain = 0;
    int code = 0;
    QString detail;
    bool fromSink = false;
    bool fromSynthesizer = false;
};

GstPlayer::GstPlayer(const QString& audioSink, const QString& soundfont)
    : notifier_(std::make_unique<PlayerNotifier>()) {
    initGStreamer();
    GError* error = nullptr;
    GstElement* sink =
        gst_parse_bin_from_description(audioSink.toUtf8().constData(), TRUE, &error);
    const QString why = error ? fromUtf8(error->message) : QString();
    g_clear_error(&error);
    if (!sink)
        throw PlayerError(QStringLiteral("No se puede preparar la salida de sonido «%1»: %2")
                              .arg(audioSink, why));
    pipeline_ = gst_element_factory_make("playbin", nullptr);
    if (!pipeline_) {
        gst_object_unref(gst_object_ref_sink(sink));
        throw PlayerError(QStringLiteral(
            "No se puede reproducir sonido: falta el reproductor de GStreamer (playbin)."));
    }
    // A video stream still looks for a real video output unless given one, which can take
    // seconds; this one is never fed, the video flag being off.
    GstElement* videoSink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(pipeline_, "flags", kPlayFlags, "audio-sink", sink, "video-sink", videoSink,
                 nullptr);
    if (!soundfont.isEmpty()) {
        auto setSoundfont = +[](GstElement*, GstElement* element, gpointer path) {
            GstElementFactory* factory = gst_element_get_factory(element);
            if (factory && std::strcmp(GST_OBJECT_NAME(factory), "fluiddec") == 0)
                g_object_set(element, "soundfont", static_cast<const char*>(path), nullptr);
        };
        g_signal_connect_data(pipeline_, "element-setup", G_CALLBACK(setSoundfont),
                              g_strdup(QFile::encodeName(soundfont).constData()),
                              [](gpointer path, GClosure*) { g_free(path); }, GConnectFlags(0));
    }

    bus_ = gst_element_get_bus(pipeline_);
    wake_ = new Wake;
    wake_->player = this;
    wake_->pipeline = pipeline_;
    gst_bus_set_sync_handler(
        bus_,
        [](GstBus*, GstMessage* message, gpointer wake) {
            static_cast<Wake*>(wake)->push(message);
            return GST_BUS_DROP;
        },
        wake_, [](gpointer wake) { delete static_cast<Wake*>(wake); });
}

GstPlayer::~GstPlayer() {
    {
        std::lock_guard lock(wake_->mutex);
        wake_->player = nullptr;
    }
    // NULL joins the streaming threads; removing the handler then frees wake_, and the
    // notifier takes any wake-up still queued with it.
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_bus_set_sync_handler(bus_, nullptr, nullptr, nullptr);
    gst_object_unref(bus_);
    gst_object_unref(pipeline_);
}

void GstPlayer::setFileName(const QString& path) {
    resetPipeline(path.isEmpty() ? GST_STATE_NULL : GST_STATE_READY);
    fileName_ = path;
    duration_ = 0;
    durationEstimated_ = false;
    lastError_.clear();
    setState(Closed);
    if (path.isEmpty())
        return;

    const auto refuse = [&](const QString& why) {
        resetPipeline(GST_STATE_NULL);
        throw PlayerError(QStringLiteral("No se puede abrir %1: %2").arg(quoted(path), why));
    };
    const QFileInfo info(path);
    if (!info.exists())
        refuse(QStringLiteral("el archivo no existe."));
    if (info.isDir())
        refuse(QStringLiteral("es una carpeta, no un archivo."));
    if (info.size() == 0)
        refuse(QStringLiteral("el archivo está vacío."));

    GError* error = nullptr;
    gchar* uri = gst_filename_to_uri(QFile::encodeName(path).constData(), &error);
    const QString why = error ? fromUtf8(error->message) : QString();
    g_clear_error(&error);
    if (!uri)
        refuse(why);
    g_object_set(pipeline_, "uri", uri, nullptr);
    g_free(uri);

    // Prerolling now makes a file that cannot be played fail here, where the caller can
    // tell the user, rather than at Play.
    Failure failure;
    gst_element_set_state(pipeline_, GST_STATE_PAUSED);
    if (!waitForState(GST_STATE_PAUSED, failure)) {
        const QString message = describe(failure, QStringLiteral("No se puede abrir"));
        resetPipeline(GST_STATE_NULL);
        throw PlayerError(message);
    }
    gint audioStreams = 0;
    g_object_get(pipeline_, "n-audio", &audioStreams, nullptr);
    if (audioStreams == 0)
        refuse(QStringLiteral("no es un archivo de sonido que se pueda reproducir."));

    setState(Stopped);
    refreshDuration();
    if (duration_ == 0) {
        duration_ = estimateMp3Seconds(path);
        durationEstimated_ = duration_ > 0;
    }
}

double GstPlayer::CurrentPosition() const {
    if (state_ != Playing && state_ != Paused)
        return 0;
    gint64 position = 0;
    if (!gst_element_query_position(pipeline_, GST_FORMAT_TIME, &position) || position < 0)
        return 0;
    return toSeconds(position);
}

void GstPlayer::setVolume(int volume) {
    volume_ = std::clamp(volume, int(kMinVolume), int(kMaxVolume));
    // Hundredths of a decibel to an amplitude ratio.
    g_object_set(pipeline_, "volume", std::pow(10.0, volume_ / 2000.0), nullptr);
}

double GstPlayer::appliedGain() const {
    gdouble gain = 0;
    g_object_get(pipeline_, "volume", &gain, nullptr);
    return gain;
}

void GstPlayer::Play() {
    requireFile();
    if (state_ == Playing)
        return;
    // From READY (after Stop or the end) this prerolls again, from the start.
    Failure failure;
    gst_element_set_state(pipeline_, GST_STATE_PLAYING);
    if (!waitForState(GST_STATE_PLAYING, failure)) {
        const QString message = describe(failure, QStringLiteral("No se puede reproducir"));
        resetPipeline(GST_STATE_READY);
        setState(Stopped);
        throw PlayerError(message);
    }
    lastError_.clear();
    setState(Playing);
    refreshDuration();
}

void GstPlayer::Pause() {
    requireFile();
    if (state_ == Paused) {
        Play();
        return;
    }
    if (state_ != Playing)
        return;
    Failure failure;
    gst_element_set_state(pipeline_, GST_STATE_PAUSED);
    if (!waitForState(GST_STATE_PAUSED, failure)) {
        const QString message = describe(failure, QStringLiteral("No se puede hacer pausa en"));
        resetPipeline(GST_STATE_READY);
        setState(Stopped);
        throw PlayerError(message);
    }
    setState(Paused);
}

void GstPlayer::Stop() {
    requireFile();
    resetPipeline(GST_STATE_READY);
    setState(Stopped);
}

void GstPlayer::requireFile() const {
    if (state_ == Closed)
        throw PlayerError(QStringLiteral("No hay ningún archivo abierto."));
}

void GstPlayer::scheduleWake() {
    std::lock_guard lock(wake_->mutex);
    wake_->postLocked();
}

void GstPlayer::wake() {
    {
        std::lock_guard lock(wake_->mutex);
        wake_->posted = false;
    }
    if (std::exchange(pendingEos_, false))
        reachedEnd();
    while (GstMessage* message = wake_->pop()) {
        handleMessage(message, nullptr);
        gst_message_unref(message);
    }
    // Last, and without touching the player after: a receiver may delete it.
    const bool duration = std::exchange(notifyDuration_, false);
    const bool state = std::exchange(notifyState_, false);
    QPointer<PlayerNotifier> notifier = notifier_.get();
    if (duration)
        emit notifier->durationChanged();
    if (state && notifier)
        emit notifier->stateChanged();
}

// `waiting` is set while a member waits for a state change: failures go to it, and the end
// of the file is left for the event loop so that the member reports the state it reached.
void GstPlayer::handleMessage(GstMessage* message, Failure* waiting) {
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_EOS:
        if (waiting) {
            pendingEos_ = true;
            scheduleWake();
        } else {
            reachedEnd();
        }
        break;
    case GST_MESSAGE_ERROR: {
        Failure failure;
        GError* error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        failure.failed = true;
        failure.domain = error->domain;
        failure.code = error->code;
        failure.detail = fromUtf8(error->message);
        g_error_free(error);
        GstObject* source = GST_MESSAGE_SRC(message);
        GstElement* sink = nullptr;
        g_object_get(pipeline_, "audio-sink", &sink, nullptr);
        if (sink) {
            failure.fromSink = source == GST_OBJECT(sink) ||
                               gst_object_has_as_ancestor(source, GST_OBJECT(sink));
            gst_object_unref(sink);
        }
        if (GST_IS_ELEMENT(source)) {
            GstElementFactory* factory = gst_element_get_factory(GST_ELEMENT(source));
            failure.fromSynthesizer =
                factory && std::strcmp(GST_OBJECT_NAME(factory), "fluiddec") == 0;
        }
        if (waiting) {
            if (!waiting->failed)
                *waiting = failure;
        } else if (state_ == Playing || state_ == Paused) {
            lastError_ = describe(failure, QStringLiteral("No se puede reproducir"));
            resetPipeline(GST_STATE_READY);
            setState(Stopped);
        }
        break;
    }
    case GST_MESSAGE_ELEMENT: {
        // decodebin's "missing-plugin" names the stream it found no decoder for; for MIDI
        // that is what a synthesizer without a soundfont leaves behind.
        const GValue* detail = gst_structure_get_value(gst_message_get_structure(message), "detail");
        if (detail && GST_VALUE_HOLDS_CAPS(detail)) {
            const GstCaps* caps = gst_value_get_caps(detail);
            if (caps && gst_caps_get_size(caps) > 0)
                missingDecoder_ = fromUtf8(gst_structure_get_name(gst_caps_get_structure(caps, 0)));
        }
        break;
    }
    case GST_MESSAGE_DURATION_CHANGED:
        refreshDuration();
        break;
    case GST_MESSAGE_CLOCK_LOST:
        // The output went away and came back: playing on needs a new clock.
        if (!waiting && state_ == Playing) {
            gst_element_set_state(pipeline_, GST_STATE_PAUSED);
            gst_element_set_state(pipeline_, GST_STATE_PLAYING);
        }
        break;
    default:
        break;
    }
}

// Handles the messages the pipeline posts until it is in `target`; false on a failure or
// when it takes too long.
bool GstPlayer::waitForState(int target, Failure& failure) {
    const gint64 deadline = g_get_monotonic_time() + kWaitMicroseconds;
    for (;;) {
        GstState current = GST_STATE_VOID_PENDING, pending = GST_STATE_VOID_PENDING;
        const GstStateChangeReturn result =
            gst_element_get_state(pipeline_, &current, &pending, 0);
        if (result == GST_STATE_CHANGE_FAILURE) {
            // The error that made it fail was posted before.
            while (!failure.failed) {
                GstMessage* message = wake_->pop();
                if (!message)
                    break;
                handleMessage(message, &failure);
                gst_message_unref(message);
            }
            failure.failed = true;
            return false;
        }
        if (result != GST_STATE_CHANGE_ASYNC && current == target)
            return true;
        if (g_get_monotonic_time() >= deadline) {
            failure.failed = failure.timedOut = true;
            return false;
        }
        if (GstMessage* message = wake_->pop(deadline)) {
            handleMessage(message, &failure);
            gst_message_unref(message);
            if (failure.failed)
                return false;
        }
    }
}

void GstPlayer::reachedEnd() {
    if (state_ != Playing && state_ != Paused)
        return;
    refreshDuration(); // at its end the parser knows the length exactly
    resetPipeline(GST_STATE_READY);
    setState(Stopped);
}

void GstPlayer::refreshDuration() {
    if (state_ == Closed)
        return;
    gint64 nanoseconds = 0;
    // Unknown (an MP3 without a VBR header, early on) keeps the estimate.
    if (!gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &nanoseconds) ||
        nanoseconds <= 0)
        return;
    const double seconds = toSeconds(nanoseconds);
    if (seconds == duration_ && !durationEstimated_)
        return;
    duration_ = seconds;
    durationEstimated_ = false;
    notifyDuration_ = true;
    scheduleWake();
}

void GstPlayer::setState(int state) {
    if (state == state_)
        return;
    state_ = state;
    notifyState_ = true;
    scheduleWake();
}

// READY and NULL are reached at once, the streaming threads joined; what they posted about
// the file before is of no more use.
void GstPlayer::resetPipeline(int target) {
    gst_element_set_state(pipeline_, GstState(target));
    wake_->clear();
    pendingEos_ = false;
    missingDecoder_.clear();
}

QString GstPlayer::describe(const Failure& failure, const QString& what) const {
    const QString head = QStringLiteral("%1 %2: ").arg(what, quoted(fileName_));
    if (failure.timedOut)
        return head + QStringLiteral("el archivo tarda demasiado en responder.");
    if (failure.fromSynthesizer || missingDecoder_.startsWith(QStringLiteral("audio/x-midi")) ||
        missingDecoder_.startsWith(QStringLiteral("audio/midi")))
        return head + QStringLiteral(
                          "para los archivos MIDI hace falta una fuente de sonidos General MIDI "
                          "(soundfont), como la del paquete timgm6mb-soundfont.");
    if (!missingDecoder_.isEmpty())
        return head + QStringLiteral("falta el complemento de GStreamer que descodifica «%1».")
                          .arg(missingDecoder_);
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

} // namespace melofon::playback
