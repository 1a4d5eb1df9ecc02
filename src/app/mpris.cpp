#include "app/mpris.h"

#include "app/frm_principal.h"
#include "playback/media_player.h"

#include <QCheckBox>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDir>
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

// A playlist box row, "id - name", as MPRIS names it.
MprisPlaylist playlistOf(const QString& row) {
    const qsizetype p = row.indexOf(QStringLiteral(" - "));
    const QString id = p < 0 ? QString() : row.left(p).trimmed();
    bool number = false;
    id.toInt(&number);
    return {QDBusObjectPath(kPlaylistPath + (number ? id : QStringLiteral("0"))), p < 0 ? row : row.mid(p + 3), {}};
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

Mpris::Mpris(frmPrincipal& window, playback::MediaPlayer& player, const QString& tablesDir)
    : window_(window), player_(player), tablesDir_(canonical(tablesDir)) {
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
    if (!registered_) {
        bus.unregisterObject(kPath);
        return;
    }
    status_ = playbackStatus();
    metadata_ = metadata();
    // Only what did change is announced: a walk over files that cannot be opened changes
    // the player's state many times a second, and the status not at all.
    const auto announce = [this] {
        QVariantMap properties;
        if (const QVariantMap m = metadata(); m != metadata_)
            properties.insert(QStringLiteral("Metadata"), metadata_ = m);
        if (const QString status = playbackStatus(); status != status_)
            properties.insert(QStringLiteral("PlaybackStatus"), status_ = status);
        if (!properties.isEmpty())
            changed(kPlayerInterface, properties);
    };
    playback::PlayerNotifier* n = player_.notifier();
    connect(n, &playback::PlayerNotifier::stateChanged, this, announce);
    connect(n, &playback::PlayerNotifier::started, this, announce);
    connect(n, &playback::PlayerNotifier::durationChanged, this, announce);
    connect(window_.hsVolumen, &QScrollBar::valueChanged, this, [this] {
        changed(kPlayerInterface, {{QStringLiteral("Volume"), volume()}});
    });
}

Mpris::~Mpris() {
    if (!registered_)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(kPath);
}

bool Mpris::raiseCopyWith(const QString& tablesDir) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QString wanted = canonical(tablesDir);
    const QStringList names = bus.interface()->registeredServiceNames().value();
    for (const QString& name : names) {
        if (name != QLatin1String(kService) && !name.startsWith(QLatin1String(kService) + QLatin1Char('.')))
            continue;
        QDBusInterface properties(name, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), bus);
        properties.setTimeout(2000);
        const QDBusReply<QDBusVariant> dir = properties.call(QStringLiteral("Get"), kStoreInterface, QStringLiteral("Directory"));
        if (!dir.isValid() || dir.value().variant().toString() != wanted)
            continue;
        QDBusInterface root(name, kPath, QStringLiteral("org.mpris.MediaPlayer2"), bus);
        root.setTimeout(2000);
        if (root.call(QStringLiteral("Raise")).type() == QDBusMessage::ReplyMessage)
            return true;
    }
    return false;
}

QString Mpris::playbackStatus() const {
    switch (player_.PlayState()) {
    case playback::MediaPlayer::Playing:
        return QStringLiteral("Playing");
    case playback::MediaPlayer::Paused:
        return QStringLiteral("Paused");
    case playback::MediaPlayer::Opening:
        // Between two files, or on the way to one that may not open: no news yet.
        return status_.isEmpty() ? QStringLiteral("Stopped") : status_;
    default:
        return QStringLiteral("Stopped");
    }
}

QVariantMap Mpris::metadata() const {
    const QString file = player_.FileName();
    const int state = player_.PlayState();
    if (state == playback::MediaPlayer::Opening && !metadata_.isEmpty())
        return metadata_; // until the file opens, or does not
    if (file.isEmpty() || state == playback::MediaPlayer::Closed)
        return {{QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack")))}};
    QVariantMap m{
        {QStringLiteral("mpris:trackid"),
         QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/example/melofon/Track/%1").arg(player_.Opens())))},
        {QStringLiteral("xesam:title"), frmPrincipal::NombreMostrado(file)},
        {QStringLiteral("xesam:url"), QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()).toString()},
    };
    if (const double seconds = player_.Duration(); seconds > 0)
        m.insert(QStringLiteral("mpris:length"), qlonglong(std::llround(seconds * 1e6)));
    return m;
}

// The volume bar's hundredths of a decibel as the linear gain MPRIS speaks of.
double Mpris::volume() const { return std::pow(10.0, window_.hsVolumen->value() / 2000.0); }

void Mpris::setVolume(double gain) {
    const double hundredths = gain <= 0 ? double(window_.hsVolumen->minimum()) : std::round(2000.0 * std::log10(gain));
    window_.hsVolumen->setValue(int(std::clamp(hundredths, double(window_.hsVolumen->minimum()),
                                               double(window_.hsVolumen->maximum()))));
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

void MprisRoot::Raise() {
    frmPrincipal& w = mpris_->window();
    w.showNormal();
    w.raise();
    w.activateWindow();
}

void MprisRoot::Quit() {
    // After the reply has gone out: "Salir" ends the process at once.
    QTimer::singleShot(100, &mpris_->window(), [w = &mpris_->window()] { w->cmdSalir->click(); });
}

MprisPlayer::MprisPlayer(Mpris* mpris) : QDBusAbstractAdaptor(mpris), mpris_(mpris) {}

qlonglong MprisPlayer::position() const { return qlonglong(std::llround(mpris_->player().CurrentPosition() * 1e6)); }

void MprisPlayer::Play() { mpris_->window().cmdPlay->click(); }

void MprisPlayer::Pause() {
    if (mpris_->player().PlayState() == playback::MediaPlayer::Playing)
        mpris_->window().cmdPause->click();
}

void MprisPlayer::PlayPause() {
    const int state = mpris_->player().PlayState();
    if (state == playback::MediaPlayer::Playing || state == playback::MediaPlayer::Paused)
        mpris_->window().cmdPause->click();
    else
        mpris_->window().cmdPlay->click();
}

void MprisPlayer::Stop() { mpris_->window().cmdStop->click(); }

MprisPlaylists::MprisPlaylists(Mpris* mpris) : QDBusAbstractAdaptor(mpris), mpris_(mpris) {}

uint MprisPlaylists::playlistCount() const { return uint(mpris_->window().lstListas->ListCount()); }

MprisMaybePlaylist MprisPlaylists::activePlaylist() const {
    const store::ListBox& box = *mpris_->window().lstListas;
    if (box.ListIndex() < 0)
        return {};
    return {true, playlistOf(box.List(box.ListIndex()))};
}

void MprisPlaylists::ActivatePlaylist(const QDBusObjectPath& playlist) {
    frmPrincipal& w = mpris_->window();
    for (int i = 0; i < w.lstListas->ListCount(); ++i) {
        if (playlistOf(w.lstListas->List(i)).id == playlist) {
            if (w.lstListas->ListIndex() != i)
                w.lstListas->setListIndex(i); // as a click on it
            w.cmdPlay->click();
            return;
        }
    }
}

QList<MprisPlaylist> MprisPlaylists::GetPlaylists(uint index, uint maxCount, const QString&, bool reverse) {
    const store::ListBox& box = *mpris_->window().lstListas;
    QList<MprisPlaylist> all;
    for (int i = 0; i < box.ListCount(); ++i)
        all << playlistOf(box.List(i));
    if (reverse)
        std::reverse(all.begin(), all.end());
    return all.mid(qsizetype(index), qsizetype(maxCount));
}

} // namespace melofon::app
