#include "app/mpris.h"

#include "app/frm_principal.h"
#include "playback/media_player.h"
#include "playback/playback_controller.h"

#include <QCheckBox>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QFileInfo>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <unistd.h>

#include <cmath>

namespace melofon::app {

namespace {

const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kStoreInterface = QStringLiteral("org.example.melofon.Store");
const QString kPlaylistPath = QStringLiteral("/org/example/melofon/Playlist/");

// A playlist box row, "id - name", as MPRIS names it. Object paths take no minus sign, so
// a negative id of a table written elsewhere is spelt with an "n".
MprisPlaylist playlistOf(const QString& row) {
    const store::ListId id = store::IdOfRow(row);
    const QString name = id ? store::PathOfRow(row) : row;
    const QString digits = id ? QString::number(*id).replace(QLatin1Char('-'), QLatin1Char('n')) : QStringLiteral("0");
    return {QDBusObjectPath(kPlaylistPath + digits), name, {}};
}

QString canonical(const QString& dir) {
    const QString c = QFileInfo(dir).canonicalFilePath();
    return c.isEmpty() ? QDir(dir).absolutePath() : c;
}

} // namespace

QDBusArgument& operator<<(QDBusArgument& a, const MprisPlaylist& p) {
    a.beginStructure();
    a << p.id << p.name << p.icon;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, MprisPlaylist& p) {
    a.beginStructure();
    a >> p.id >> p.name >> p.icon;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const MprisMaybePlaylist& m) {
    a.beginStructure();
    a << m.valid << m.playlist;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, MprisMaybePlaylist& m) {
    a.beginStructure();
    a >> m.valid >> m.playlist;
    a.endStructure();
    return a;
}

Mpris::Mpris(const QString& tablesDir) : tablesDir_(canonical(tablesDir)) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return; // no desktop session: the player works as before
    qDBusRegisterMetaType<MprisPlaylist>();
    qDBusRegisterMetaType<QList<MprisPlaylist>>();
    qDBusRegisterMetaType<MprisMaybePlaylist>();
    new MprisRoot(this);
    new MprisPlayer(this);
    new MprisPlaylists(this);
    new MelofonStore(this);
    if (!bus.registerObject(kPath, this))
        return;
    // Melofon on other tables may hold the well-known name; the desktop lists both.
    registered_ = bus.registerService(QString::fromLatin1(kService)) ||
                  bus.registerService(QString::fromLatin1(kService) + QStringLiteral(".instance%1").arg(::getpid()));
    if (!registered_)
        bus.unregisterObject(kPath);
}

void Mpris::attach(frmPrincipal& window, playback::PlaybackController& playback) {
    window_ = &window;
    playback_ = &playback;
    if (!registered_)
        return;
    status_ = playbackStatus();
    metadata_ = metadata();
    canPlay_ = canPlay();
    canSkip_ = canSkip();
    // Only what did change is announced: a walk over files that cannot be opened changes
    // the player's state many times a second, and the status not at all.
    const auto announce = [this] {
        QVariantMap properties;
        if (const QVariantMap m = metadata(); m != metadata_)
            properties.insert(QStringLiteral("Metadata"), metadata_ = m);
        if (const QString status = playbackStatus(); status != status_)
            properties.insert(QStringLiteral("PlaybackStatus"), status_ = status);
        if (const bool can = canPlay(); can != canPlay_)
            properties.insert(QStringLiteral("CanPlay"), canPlay_ = can);
        if (const bool can = canSkip(); can != canSkip_) {
            properties.insert(QStringLiteral("CanGoNext"), canSkip_ = can);
            properties.insert(QStringLiteral("CanGoPrevious"), can);
        }
        if (!properties.isEmpty())
            changed(kPlayerInterface, properties);
    };
    connect(&playback, &playback::PlaybackController::stateChanged, this, announce);
    connect(&playback, &playback::PlaybackController::fileStarted, this, announce);
    connect(&playback, &playback::PlaybackController::durationChanged, this, announce);
    connect(&playback, &playback::PlaybackController::tagsChanged, this, announce);
    connect(window.lstContenido, &ListBoxWidget::Click, this, announce);
    // The playlists interface: the count and the playlist chosen.
    const auto announceLists = [this] {
        QVariantMap properties;
        const uint count = uint(window_->lstListas->ListCount());
        if (count != playlistCount_)
            properties.insert(QStringLiteral("PlaylistCount"), playlistCount_ = count);
        const QString active = activePlaylistRow();
        if (active != activePlaylist_) {
            activePlaylist_ = active;
            properties.insert(QStringLiteral("ActivePlaylist"), QVariant::fromValue(activePlaylist()));
        }
        if (!properties.isEmpty())
            changed(QStringLiteral("org.mpris.MediaPlayer2.Playlists"), properties);
    };
    playlistCount_ = uint(window.lstListas->ListCount());
    activePlaylist_ = activePlaylistRow();
    connect(window.lstListas, &ListBoxWidget::Click, this, announce);
    connect(window.lstListas, &ListBoxWidget::Click, this, announceLists);
    QAbstractItemModel* lists = window.lstListas->model();
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(lists, signal, this, announceLists);
    connect(lists, &QAbstractItemModel::modelReset, this, announceLists);
    connect(window.hsVolumen, &QScrollBar::valueChanged, this, [this] {
        changed(kPlayerInterface, {{QStringLiteral("Volume"), volume()}});
    });
}

playback::MediaPlayer& Mpris::player() { return playback_->player(); }

Mpris::~Mpris() {
    if (!registered_)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(kPath);
}

bool Mpris::handToCopyWith(const QString& tablesDir, const QString& file) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QString wanted = canonical(tablesDir);
    // A copy started in the same instant takes its name right after it locked the tables:
    // it is waited for a moment.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        for (const QString& name : bus.interface()->registeredServiceNames().value())
            if (handTo(bus, name, wanted, file))
                return true;
        if (waited.elapsed() > 3000)
            return false;
        QThread::msleep(100);
    }
}

// Hands `file` to the copy under `name` if it has the tables in `wanted`; once the file is
// handed over it counts as done, raised or not, so that it is never played twice.
bool Mpris::handTo(QDBusConnection& bus, const QString& name, const QString& wanted, const QString& file) {
    if (name != QLatin1String(kService) && !name.startsWith(QLatin1String(kService) + QLatin1Char('.')))
        return false;
    QDBusInterface properties(name, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), bus);
    properties.setTimeout(2000);
    const QDBusReply<QDBusVariant> dir = properties.call(QStringLiteral("Get"), kStoreInterface, QStringLiteral("Directory"));
    if (!dir.isValid() || dir.value().variant().toString() != wanted)
        return false;
    if (!file.isEmpty()) {
        QDBusInterface player(name, kPath, kPlayerInterface, bus);
        player.setTimeout(2000);
        if (player.call(QStringLiteral("OpenUri"), QUrl::fromLocalFile(file).toString()).type() !=
            QDBusMessage::ReplyMessage)
            return false;
    }
    QDBusInterface store(name, kPath, kStoreInterface, bus);
    store.setTimeout(2000);
    const QString token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
    const bool raised = store.call(QStringLiteral("Activate"), token).type() == QDBusMessage::ReplyMessage;
    return raised || !file.isEmpty();
}

void Mpris::activate(const QString& token) {
    if (!window_)
        return;
    // The desktop lets a window take the focus with the token it gave the copy started
    // (Wayland); on X11 the startup id plays that part.
    if (!token.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
    window_->showNormal();
    window_->raise();
    window_->activateWindow();
}

QString Mpris::playbackStatus() const {
    if (!playback_)
        return QStringLiteral("Stopped");
    switch (playback_->state()) {
    case playback::MediaPlayer::Playing:
        return QStringLiteral("Playing");
    case playback::MediaPlayer::Paused:
        return QStringLiteral("Paused");
    case playback::MediaPlayer::Opening:
        // A file was asked for and is on its way: to the desktop, what was asked is
        // playing (a Pause now pauses it).
        return QStringLiteral("Playing");
    default:
        return QStringLiteral("Stopped");
    }
}

MprisMaybePlaylist Mpris::activePlaylist() const {
    if (!window_)
        return {};
    const QString row = activePlaylistRow();
    return row.isEmpty() ? MprisMaybePlaylist{} : MprisMaybePlaylist{true, playlistOf(row)};
}

QString Mpris::activePlaylistRow() const {
    const store::ListBox& box = *window_->lstListas;
    return box.ListIndex() < 0 ? QString() : box.List(box.ListIndex());
}

QVariantMap Mpris::metadata() const {
    if (!playback_)
        return {};
    const playback::MediaPlayer& player = playback_->player();
    const QString file = playback_->playingFile();
    const int state = player.PlayState();
    const playback::FileTags tags = player.Tags();
    if (state == playback::MediaPlayer::Opening && !metadata_.isEmpty())
        return metadata_; // until the file opens, or does not
    if (file.isEmpty() || state == playback::MediaPlayer::Closed)
        return {{QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack")))}};
    QVariantMap m{
        {QStringLiteral("mpris:trackid"),
         QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/example/melofon/Track/%1").arg(player.Opens())))},
        {QStringLiteral("xesam:title"), tags.title.isEmpty() ? frmPrincipal::NombreMostrado(file) : tags.title},
        {QStringLiteral("xesam:url"), QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()).toString(QUrl::FullyEncoded)},
    };
    if (!tags.artist.isEmpty())
        m.insert(QStringLiteral("xesam:artist"), QStringList{tags.artist});
    if (!tags.album.isEmpty())
        m.insert(QStringLiteral("xesam:album"), tags.album);
    if (tags.track > 0)
        m.insert(QStringLiteral("xesam:trackNumber"), tags.track);
    if (const double seconds = player.Duration(); seconds > 0)
        m.insert(QStringLiteral("mpris:length"), qlonglong(std::llround(seconds * 1e6)));
    return m;
}

// The volume bar's hundredths of a decibel as the linear gain MPRIS speaks of.
double Mpris::volume() const {
    if (!window_)
        return 1.0;
    const int level = window_->hsVolumen->value();
    return setGain_ >= 0 && level == setLevel_ ? setGain_ : playback::MediaPlayer::gainOf(level);
}

void Mpris::setVolume(double gain) {
    if (!window_)
        return;
    setGain_ = std::clamp(gain, 0.0, 1.0);
    setLevel_ = playback::MediaPlayer::volumeOf(setGain_);
    window_->hsVolumen->setValue(setLevel_);
}

bool Mpris::canSkip() const { return playback_ && playback_->canSkip(); }

bool Mpris::openUri(const QString& uri) {
    const QUrl url(uri);
    if (!window_ || !url.isLocalFile())
        return false;
    window_->ReproducirArchivo(url.toLocalFile());
    return true;
}

// Play resumes a paused file, leaves one that plays or opens alone, and otherwise plays
// the selected playlist as the panel's play button does.
void Mpris::play() {
    if (!playback_)
        return;
    const int state = playback_->state();
    if (state == playback::MediaPlayer::Paused)
        playback_->resume();
    else if (playback::MediaPlayer::idle(state))
        playback_->play();
}

void Mpris::pause() {
    if (!playback_)
        return;
    const int state = playback_->state();
    if (state == playback::MediaPlayer::Playing || state == playback::MediaPlayer::Opening ||
        (state == playback::MediaPlayer::Paused && playback_->player().HeldByEngine()))
        playback_->pause();
}

void Mpris::playPause() {
    if (!playback_)
        return;
    if (playback::MediaPlayer::idle(playback_->state()))
        playback_->play();
    else
        playback_->pause(); // pauses what plays or opens, resumes what is paused
}

// Whether there is something to play: a file open (playing, paused or opening: MPRIS ties
// CanPlay to a current track, and clients skip a player without it), or something for the
// walk.
bool Mpris::canPlay() const {
    if (!playback_)
        return false;
    if (!playback::MediaPlayer::idle(playback_->state()))
        return true;
    return window_->lstContenido->ListCount() > 0 ||
           (window_->chkTodas->isChecked() && window_->lstListas->ListCount() > 0);
}

void Mpris::changed(const QString& interface, const QVariantMap& properties) {
    QDBusMessage signal = QDBusMessage::createSignal(kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << interface << properties << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

MprisRoot::MprisRoot(Mpris* mpris) : QDBusAbstractAdaptor(mpris), mpris_(mpris) {}

QStringList MprisRoot::supportedMimeTypes() const {
    return {QStringLiteral("audio/mpeg"), QStringLiteral("audio/midi"), QStringLiteral("audio/x-wav")};
}

void MprisRoot::Raise() { mpris_->activate({}); }

void MprisRoot::Quit() {
    if (!mpris_->attached())
        return;
    // After the reply has gone out: "Salir" ends the process at once.
    QTimer::singleShot(100, &mpris_->window(), [w = &mpris_->window()] { w->cmdSalir_Click(); });
}

MprisPlayer::MprisPlayer(Mpris* mpris) : QDBusAbstractAdaptor(mpris), mpris_(mpris) {}

qlonglong MprisPlayer::position() const {
    return mpris_->attached() ? qlonglong(std::llround(mpris_->player().CurrentPosition() * 1e6)) : 0;
}

void MprisPlayer::Play() { mpris_->play(); }

void MprisPlayer::Pause() { mpris_->pause(); }

void MprisPlayer::PlayPause() { mpris_->playPause(); }

void MprisPlayer::Next() {
    if (mpris_->attached())
        mpris_->playback().next();
}

void MprisPlayer::Previous() {
    if (mpris_->attached())
        mpris_->playback().previous();
}

void MprisPlayer::OpenUri(const QString& uri) {
    if (!mpris_->openUri(uri) && mpris_->calledFromDBus())
        mpris_->sendErrorReply(QDBusError::NotSupported,
                       QStringLiteral("Melofon solo abre archivos locales (file://): %1").arg(uri));
}

void MprisPlayer::Stop() {
    if (mpris_->attached())
        mpris_->playback().stop();
}

MprisPlaylists::MprisPlaylists(Mpris* mpris) : QDBusAbstractAdaptor(mpris), mpris_(mpris) {}

uint MprisPlaylists::playlistCount() const {
    return mpris_->attached() ? uint(mpris_->window().lstListas->ListCount()) : 0;
}

MprisMaybePlaylist MprisPlaylists::activePlaylist() const { return mpris_->activePlaylist(); }

void MprisPlaylists::ActivatePlaylist(const QDBusObjectPath& playlist) {
    if (!mpris_->attached())
        return;
    frmPrincipal& w = mpris_->window();
    for (int i = 0; i < w.lstListas->ListCount(); ++i) {
        if (playlistOf(w.lstListas->List(i)).id == playlist) {
            if (w.lstListas->ListIndex() != i)
                w.lstListas->setListIndex(i); // as a click on it
            mpris_->playback().play();
            return;
        }
    }
}

QList<MprisPlaylist> MprisPlaylists::GetPlaylists(uint index, uint maxCount, const QString&, bool reverse) {
    if (!mpris_->attached())
        return {};
    const store::ListBox& box = *mpris_->window().lstListas;
    QList<MprisPlaylist> all;
    for (int i = 0; i < box.ListCount(); ++i)
        all << playlistOf(box.List(i));
    if (reverse)
        std::reverse(all.begin(), all.end());
    return all.mid(qsizetype(index), qsizetype(maxCount));
}

} // namespace melofon::app
