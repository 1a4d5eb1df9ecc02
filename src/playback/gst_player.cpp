#include "playback/gst_player.h"

#include "playback/file_wording.h"
#include "playback/gst_engine.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>

#include <dlfcn.h>

#include <algorithm>
#include <optional>
#include <thread>

namespace melofon::playback {

namespace {

// How long a closing player waits for its sessions to let their pipelines go, in all.
constexpr auto kTeardownWait = std::chrono::seconds(2);
// What was found of a file to queue stays good for this long.
constexpr auto kProbeFresh = std::chrono::seconds(30);
// Files looked at for the queue at once; more wait, and are opened the usual way meanwhile.
constexpr int kProbesAtOnce = 4;

// The plugins Melofon plays with, as GStreamer's list of the plugins it may load.
constexpr char kOwnPlugins[] =
    // The pipeline, and how it finds what a file holds (for other kinds than its own).
    "coreelements,playback,typefindfunctions,app,"
    // MP3, with its tags; MIDI; WAV, where libsndfile is missing.
    "id3demux,apetag,audioparsers,mpg123,midi,fluidsynthmidi,wavparse,alaw,mulaw,"
    // The way to the output, and every output autoaudiosink may choose.
    "audioconvert,audioresample,volume,autodetect,pulseaudio,pipewire,alsa,jack,oss4,ossaudio,openal";

// What keepToOwnPlugins() put in the environment for GStreamer's start, and the user's
// own registry, given back once GStreamer has read them: other programs started from this
// one (the system information) are to see the user's environment.
struct OwnPlugins {
    bool set = false;
    std::optional<QByteArray> userRegistry;
};
OwnPlugins& ownPlugins() {
    static OwnPlugins own;
    return own;
}

// Put back in place: a variable replaced or removed, never one added, so that a thread
// reading the environment meanwhile is not left with a freed copy of it.
void giveEnvironmentBack() {
    OwnPlugins& own = ownPlugins();
    if (!own.set)
        return;
    qunsetenv("GST_PLUGIN_LOADING_WHITELIST");
    if (own.userRegistry)
        qputenv("GST_REGISTRY", *own.userRegistry);
    else
        qunsetenv("GST_REGISTRY");
}

const GstPlayer::EngineEntry* linkedEngine = nullptr;

// The engine, from the library beside the program (a build) or in its private library
// folder (installed), opened the first time a file is: a few milliseconds on the window's thread;
// GStreamer itself starts on the worker. Null, with `why`, when it cannot be opened.
const GstPlayer::EngineEntry* engine(QString& why) {
    if (linkedEngine)
        return linkedEngine;
    static QString failure;
    static const GstPlayer::EngineEntry* const loaded = []() -> const GstPlayer::EngineEntry* {
        const QString dir = QCoreApplication::applicationDirPath();
        for (const QString& path : {dir + QStringLiteral("/melofon-gst.so"),
                                    dir + QStringLiteral("/../" MELOFON_ENGINE_DIR "/melofon-gst.so")}) {
            if (!QFile::exists(path))
                continue;
            if (void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL)) {
                using Entry = const GstPlayer::EngineEntry* (*)();
                if (auto entry = reinterpret_cast<Entry>(dlsym(handle, "melofon_engine")))
                    return entry();
            }
            failure = QString::fromLocal8Bit(dlerror());
            return nullptr;
        }
        failure = QStringLiteral("no está en %1").arg(dir);
        return nullptr;
    }();
    if (!loaded)
        why = QStringLiteral("No se puede reproducir sonido: falta el motor de sonido de Melofon (melofon-gst.so): %1")
                  .arg(failure);
    return loaded;
}

} // namespace

void GstPlayer::keepToOwnPlugins() {
    OwnPlugins& own = ownPlugins();
    // Not the machine's registry: written with this list, it would make every other program
    // scan all the plugins again.
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (own.set || cache.isEmpty() || qEnvironmentVariableIsSet("GST_PLUGIN_LOADING_WHITELIST"))
        return;
    if (qEnvironmentVariableIsSet("GST_REGISTRY"))
        own.userRegistry = qgetenv("GST_REGISTRY");
    qputenv("GST_PLUGIN_LOADING_WHITELIST", kOwnPlugins);
    qputenv("GST_REGISTRY", QFile::encodeName(cache + QStringLiteral("/melofon/gstreamer-1.0/registry.bin")));
    own.set = true;
}

void GstPlayer::linkEngine(const EngineEntry* engine) { linkedEngine = engine; }

void GstPlayer::startEngine() {
    QString why;
    if (const EngineEntry* e = engine(why)) {
        e->start();
        giveEnvironmentBack();
    }
}

// Where a probe's thread sends what it found; cleared when the player goes.
struct GstPlayer::ProbeLink {
    std::mutex mutex;
    PlayerNotifier* target = nullptr;
    GstPlayer* player = nullptr;
};

GstPlayer::GstPlayer(const QString& audioSink, const QString& soundfont) : sinkDescription_(audioSink.toUtf8()) {
    init(soundfont);
}

GstPlayer::GstPlayer(SinkFactory makeSink, const QString& soundfont) : makeSink_(std::move(makeSink)) {
    init(soundfont);
}

void GstPlayer::init(const QString& soundfont) {
    notifier_ = std::make_unique<PlayerNotifier>();
    soundfont_ = QFile::encodeName(soundfont);
    probeLink_ = std::make_shared<ProbeLink>();
    probeLink_->target = notifier_.get();
    probeLink_->player = this;
    openWait_ = new QTimer(notifier_.get());
    openWait_->setSingleShot(true);
    QObject::connect(openWait_, &QTimer::timeout, notifier_.get(), [this] { giveUp(); });
    handoverWait_ = new QTimer(notifier_.get());
    handoverWait_->setSingleShot(true);
    QObject::connect(handoverWait_, &QTimer::timeout, notifier_.get(), [this] { giveUpHandover(); });
}

GstPlayer::~GstPlayer() {
    {
        std::lock_guard lock(probeLink_->mutex);
        probeLink_->target = nullptr;
        probeLink_->player = nullptr;
    }
    retire(session_);
    const auto deadline = std::chrono::steady_clock::now() + kTeardownWait;
    for (const auto& weak : retired_) {
        if (auto s = weak.lock()) {
            std::unique_lock lock(s->mutex);
            s->ended.wait_until(lock, deadline, [&] { return s->finished; });
        }
    }
}

std::shared_ptr<GstPlayer::Engine> GstPlayer::session() {
    if (session_ && session_->reusable())
        return session_;
    retire(session_);
    QString why;
    const EngineEntry* e = engine(why);
    if (!e)
        return nullptr;
    EngineSetup setup;
    setup.id = ++sessions_;
    setup.makeSink = makeSink_;
    setup.sinkDescription = sinkDescription_;
    setup.soundfont = soundfont_;
    setup.target = notifier_.get();
    setup.deliver = [this](const Report& r) { deliver(r); };
    setup.started = giveEnvironmentBack;
    session_ = e->newSession(std::move(setup));
    return session_;
}

void GstPlayer::retire(const std::shared_ptr<Engine>& s) {
    if (!s)
        return;
    s->detach();
    s->push(Job::Quit);
    std::erase_if(retired_, [](const auto& weak) { return weak.expired(); });
    retired_.push_back(s);
    if (s == session_)
        session_.reset();
}

void GstPlayer::setState(int state) {
    engineHeld_ = false;
    notifyState_ = notifyState_ || state != state_;
    state_ = state;
    notifyLater();
}

void GstPlayer::setFileName(const QString& path) {
    fileName_ = path;
    next_.clear();
    notifyTags_ = notifyTags_ || !(tags_ == FileTags{});
    tags_ = {};
    duration_ = 0;
    lastError_.clear();
    workerOpen_ = ++opens_;
    playRequested_ = prerolled_ = false;
    handoverWait_->stop();
    setState(path.isEmpty() ? Closed : Opening);
    if (path.isEmpty()) {
        openWait_->stop();
        // Lets the pipeline go, and a MIDI synthesizer with it.
        if (session_)
            session_->push(Job::Close);
        return;
    }
    QString why;
    if (unavailable_.isEmpty() && !engine(why)) {
        // Said once, like an output that cannot be made; the file then fails with it.
        unavailable_ = why;
        if (!std::exchange(toldNoOutput_, true))
            QMetaObject::invokeMethod(notifier_.get(), [n = notifier_.get(), why] { emit n->noAudioOutput(why); },
                                      Qt::QueuedConnection);
    }
    if (!unavailable_.isEmpty()) {
        openWait_->stop();
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
    openWait_->start(giveUpAfter_);
    Job job(Job::Open);
    job.open = opens_;
    job.path = path;
    job.volume = volume_;
    auto s = session();
    s->setPlan({});
    s->push(std::move(job));
}

double GstPlayer::CurrentPosition() const {
    if ((state_ != Playing && state_ != Paused) || !session_)
        return 0;
    double seconds = double(session_->positionNs.load()) / 1e9;
    if (state_ == Playing && session_->positionAtNs.load() > 0) {
        // Read a moment ago by the worker: moved on since at the speed of time.
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        const std::int64_t since = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() - session_->positionAtNs.load();
        seconds += double(std::clamp<std::int64_t>(since, 0, std::int64_t(1000000000))) / 1e9;
    }
    return duration_ > 0 ? std::min(seconds, duration_) : seconds;
}

void GstPlayer::setVolume(int volume) {
    volume_ = std::clamp(volume, int(kMinVolume), int(kMaxVolume));
    if (session_) {
        Job job(Job::Volume);
        job.volume = volume_;
        session_->push(std::move(job));
    }
}

double GstPlayer::appliedGain() const { return session_ ? session_->gain.load() : -1; }

void GstPlayer::Play() {
    if (state_ == Closed)
        throw PlayerError(QStringLiteral("No hay ningún archivo abierto."));
    if (state_ == Playing || !session_)
        return;
    // From paused it plays on; otherwise it sounds once the worker says it has started.
    playRequested_ = true;
    if (state_ != Paused)
        openWait_->start(giveUpAfter_);
    setState(state_ == Paused ? Playing : Opening);
    session_->push(Job::Play);
}

void GstPlayer::Pause() {
    if (state_ == Paused && engineHeld_ && session_) {
        // The user's pause now: it holds once the engine lets go.
        engineHeld_ = false;
        session_->push(Job::Pause);
        return;
    }
    if (state_ == Paused) {
        Play();
        return;
    }
    if ((state_ != Playing && state_ != Opening) || !session_)
        return;
    playRequested_ = false;
    setState(Paused);
    session_->push(Job::Pause);
}

void GstPlayer::Stop() {
    if (state_ == Closed)
        return;
    next_.clear();
    playRequested_ = false;
    openWait_->stop();
    handoverWait_->stop();
    if (state_ != Stopped)
        setState(Stopped);
    if (session_) {
        session_->setPlan({});
        session_->push(Job::Stop);
    }
}

void GstPlayer::setNextFiles(const QueuedFiles& files) {
    next_ = files;
    publishNext();
}

// Hands the session the longest run of the files to follow that were found playable.
void GstPlayer::publishNext() {
    QueuedFiles ready;
    QHash<QString, SoundFile> found;
    const auto now = std::chrono::steady_clock::now();
    for (const QueuedFile& f : next_) {
        const auto it = probed_.constFind(f.path);
        if (it == probed_.cend() || (it->result != Probe::Pending && now - it->at > kProbeFresh)) {
            startProbe(f.path);
            break;
        }
        if (it->result != Probe::Playable)
            break;
        ready.push_back(f);
        found.insert(f.path, it->found);
    }
    if (session_)
        session_->setPlan(ready, found);
}

void GstPlayer::startProbe(const QString& path) {
    if (probesInFlight_ >= kProbesAtOnce)
        return;
    if (probed_.size() > 1000)
        probed_.removeIf([](const auto& entry) { return entry.value().result != Probe::Pending; });
    probed_.insert(path, {Probe::Pending, std::chrono::steady_clock::now(), {}});
    ++probesInFlight_;
    std::thread([link = probeLink_, path] {
        // Its true length is found here, well before it plays. MIDI is opened the usual
        // way: see beginFile.
        const bool readable = refusalOf(path).isEmpty();
        const SoundFile found = readable ? measure(path) : SoundFile{};
        const Probe result = readable && found.kind != SoundFile::Midi ? Probe::Playable : Probe::Refused;
        std::lock_guard lock(link->mutex);
        if (link->target)
            QMetaObject::invokeMethod(
                link->target, [p = link->player, path, result, found] { p->probed(path, result, found); },
                Qt::QueuedConnection);
    }).detach();
}

void GstPlayer::probed(const QString& path, Probe result, const SoundFile& found) {
    --probesInFlight_;
    probed_.insert(path, {result, std::chrono::steady_clock::now(), found});
    publishNext();
}

// An open or start that never answered: the file counts as refused, and its session is
// left to finish on its own thread.
void GstPlayer::giveUp() {
    if (state_ != Opening && !(state_ == Paused && !prerolled_))
        return;
    const quint64 open = opens_;
    lastError_ = noAnswer(fileName_);
    retire(session_);
    duration_ = 0;
    prerolled_ = false;
    setState(Closed);
    QPointer<PlayerNotifier> notifier = notifier_.get();
    emit notifier->failed(open, lastError_);
    if (notifier)
        flushNotifications();
}

// The playing file ended at its joint, but the file handed over never began.
void GstPlayer::giveUpHandover() {
    const QueuedFile file = std::exchange(handingOver_, {});
    retire(session_);
    setState(Closed);
    QPointer<PlayerNotifier> notifier = notifier_.get();
    emit notifier->nextFailed(file.cue, noAnswer(file.path));
    if (notifier)
        flushNotifications();
}

void GstPlayer::deliver(const Report& r) {
    if (!session_ || r.session != session_->id || r.open != workerOpen_)
        return; // about a file or a pipeline since replaced
    QPointer<PlayerNotifier> notifier = notifier_.get();
    const auto setDuration = [&](double seconds) {
        if (seconds <= 0 && duration_ > 0)
            return; // not known yet: keep what there is
        notifyDuration_ = notifyDuration_ || seconds != duration_;
        duration_ = seconds;
    };
    switch (r.kind) {
    case Report::Prerolled:
        prerolled_ = true;
        setDuration(r.duration);
        if (!playRequested_)
            openWait_->stop();
        if (state_ == Opening && !playRequested_)
            setState(Stopped);
        break;
    case Report::Started:
        if (state_ == Stopped || state_ == Closed)
            break;
        openWait_->stop();
        if (state_ == Opening)
            setState(Playing);
        if (r.duration > 0)
            setDuration(r.duration);
        emit notifier->started(opens_, fileName_, 0);
        break;
    case Report::HandedOver:
        handoverWait_->stop();
        handingOver_ = {};
        if (state_ != Playing && state_ != Paused)
            break; // stopped meanwhile
        fileName_ = r.path;
        ++opens_;
        notifyTags_ = notifyTags_ || !(tags_ == FileTags{});
        tags_ = {};
        setDuration(r.duration);
        emit notifier->started(opens_, r.path, r.cue);
        break;
    case Report::Joint:
        handingOver_ = {r.path, r.cue};
        handoverWait_->start(giveUpAfter_);
        break;
    case Report::Ended:
        handoverWait_->stop();
        if (state_ == Playing || state_ == Paused)
            setState(Stopped);
        break;
    case Report::Failed:
        openWait_->stop();
        lastError_ = r.message;
        setState(prerolled_ ? Stopped : Closed);
        if (!prerolled_)
            duration_ = 0;
        emit notifier->failed(opens_, r.message);
        break;
    case Report::NextFailed:
        if (r.ended) {
            handoverWait_->stop();
            if (state_ == Playing || state_ == Paused)
                setState(Stopped);
        }
        emit notifier->nextFailed(r.cue, r.message);
        break;
    case Report::DurationChanged:
        setDuration(r.duration);
        break;
    case Report::NoOutput:
        if (!std::exchange(toldNoOutput_, true))
            emit notifier->noAudioOutput(QStringLiteral(
                "No se encontró ninguna salida de sonido (PulseAudio, PipeWire o ALSA): los "
                "archivos se reproducen sin que se oiga nada."));
        break;
    case Report::Unavailable:
        // Later files fail at once, with this reason; the file that found it fails next.
        unavailable_ = r.message;
        if (!std::exchange(toldNoOutput_, true))
            emit notifier->noAudioOutput(r.message);
        break;
    case Report::Tags: {
        // A file sends its tags in parts; what a part leaves out is kept.
        FileTags merged = tags_;
        for (auto [field, value] : {std::pair{&merged.title, r.tags.title}, std::pair{&merged.artist, r.tags.artist},
                                    std::pair{&merged.album, r.tags.album}})
            if (!value.isEmpty())
                *field = value;
        if (r.tags.track > 0)
            merged.track = r.tags.track;
        notifyTags_ = notifyTags_ || !(merged == tags_);
        tags_ = merged;
        break;
    }
    case Report::EngineState:
        // Only while a file is there to hold: a Stop or an end since has the last word.
        if (state_ == Playing || state_ == Paused || (state_ == Opening && prerolled_)) {
            setState(r.state);
            engineHeld_ = r.state == Paused;
        }
        break;
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
    const bool tags = std::exchange(notifyTags_, false);
    QPointer<PlayerNotifier> notifier = notifier_.get();
    if (tags)
        emit notifier->tagsChanged();
    if (duration && notifier)
        emit notifier->durationChanged();
    if (state && notifier)
        emit notifier->stateChanged();
}

} // namespace melofon::playback
