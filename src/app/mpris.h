#pragma once

// The desktop's player controls (media keys, the sound menu, playerctl) reach Melofon
// through MPRIS 2 on the session bus. The commands are the playback controller's, the same
// the window's buttons call, so the walk, Detenido and the boxes behave the same either way.

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QString>
#include <QVariantMap>

namespace melofon::playback {
class MediaPlayer;
class PlaybackController;
}

namespace melofon::app {

class frmPrincipal;

// A playlist as MPRIS names it: an object path, a name, an icon.
struct MprisPlaylist {
    QDBusObjectPath id{QStringLiteral("/")}; // never empty: an empty path cannot be sent
    QString name;
    QString icon;
};
struct MprisMaybePlaylist {
    bool valid = false;
    MprisPlaylist playlist;
};

// The object on the bus: D-Bus gives the context of a call (to refuse it) to this one, not
// to its adaptors.
class Mpris : public QObject, public QDBusContext {
    Q_OBJECT
public:
    static constexpr const char* kService = "org.mpris.MediaPlayer2.melofon";

    // Takes the name on the session bus for the tables in `tablesDir`, the well-known name
    // or, when another Melofon (on other tables) holds it, a name of its own. Done as soon
    // as the tables are locked, so that a copy started a moment later finds this one; calls
    // are answered once the event loop runs, with the window attached. Without a session
    // bus it does nothing.
    explicit Mpris(const QString& tablesDir);
    ~Mpris() override;
    bool registered() const { return registered_; }
    // The window and what plays, once they are built.
    void attach(frmPrincipal& window, playback::PlaybackController& playback);
    bool attached() const { return window_ != nullptr; }

    // A second Melofon started on the same tables: hands `file` (if any) to the copy that
    // has them open, and raises its window, passing on the desktop's activation token.
    // False when no such copy answers.
    static bool handToCopyWith(const QString& tablesDir, const QString& file);
    // Brings the window forward; `token` is the desktop's leave to take the focus.
    void activate(const QString& token);

    frmPrincipal& window() { return *window_; }
    playback::PlaybackController& playback() { return *playback_; }
    playback::MediaPlayer& player();
    QString tablesDir() const { return tablesDir_; }

    // The player interface's commands.
    void play();
    void pause();
    void playPause();
    bool canPlay() const;
    bool canSkip() const;
    MprisMaybePlaylist activePlaylist() const;
    // A file:// URI is played as a file given on the command line; false for anything else.
    bool openUri(const QString& uri);

    QString playbackStatus() const;
    QVariantMap metadata() const;
    double volume() const;
    void setVolume(double volume);

private:
    void changed(const QString& interface, const QVariantMap& properties);
    QString activePlaylistRow() const;
    static bool handTo(QDBusConnection& bus, const QString& name, const QString& tablesDir, const QString& file);

    frmPrincipal* window_ = nullptr;
    playback::PlaybackController* playback_ = nullptr;
    QString tablesDir_;
    bool registered_ = false;
    QString status_;
    QVariantMap metadata_;
    bool canPlay_ = false;
    bool canSkip_ = false;
    // The gain last set from outside, read back as it was set while the bar still holds
    // the level it became.
    double setGain_ = -1;
    int setLevel_ = 0;
    uint playlistCount_ = 0;
    QString activePlaylist_;
};

// org.mpris.MediaPlayer2
class MprisRoot : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)
public:
    explicit MprisRoot(Mpris* mpris);
    bool canQuit() const { return true; }
    bool canRaise() const { return true; }
    bool hasTrackList() const { return false; }
    QString identity() const { return QStringLiteral("Melofon"); }
    QString desktopEntry() const { return QStringLiteral("melofon"); }
    QStringList supportedUriSchemes() const { return {QStringLiteral("file")}; }
    QStringList supportedMimeTypes() const;
public slots:
    void Raise();
    void Quit();

private:
    Mpris* mpris_;
};

// org.mpris.MediaPlayer2.Player
class MprisPlayer : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(bool CanGoNext READ canSkip)
    Q_PROPERTY(bool CanGoPrevious READ canSkip)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ no)
    Q_PROPERTY(bool CanControl READ yes)
public:
    explicit MprisPlayer(Mpris* mpris);
    QString playbackStatus() const { return mpris_->playbackStatus(); }
    double rate() const { return 1.0; }
    void setRate(double) {}
    QVariantMap metadata() const { return mpris_->metadata(); }
    double volume() const { return mpris_->volume(); }
    void setVolume(double volume) { mpris_->setVolume(volume); }
    qlonglong position() const;
    bool yes() const { return true; }
    bool no() const { return false; }
    bool canPlay() const { return mpris_->canPlay(); }
    bool canSkip() const { return mpris_->canSkip(); }
public slots:
    void Play();
    void Pause();
    void PlayPause();
    void Stop();
    void Next();
    void Previous();
    // The position bar does not seek: these do nothing.
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath&, qlonglong) {}
    void OpenUri(const QString& uri);
signals:
    void Seeked(qlonglong position);

private:
    Mpris* mpris_;
};

// org.mpris.MediaPlayer2.Playlists: the playlist box, so that a playlist can be chosen
// and played from outside.
class MprisPlaylists : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Playlists")
    Q_PROPERTY(uint PlaylistCount READ playlistCount)
    Q_PROPERTY(QStringList Orderings READ orderings)
    Q_PROPERTY(melofon::app::MprisMaybePlaylist ActivePlaylist READ activePlaylist)
public:
    explicit MprisPlaylists(Mpris* mpris);
    uint playlistCount() const;
    QStringList orderings() const { return {QStringLiteral("UserDefined")}; }
    MprisMaybePlaylist activePlaylist() const;
public slots:
    // Chooses the playlist in the playlist box and presses play.
    void ActivatePlaylist(const QDBusObjectPath& playlist);
    QList<melofon::app::MprisPlaylist> GetPlaylists(uint index, uint maxCount, const QString& order, bool reverse);
signals:
    void PlaylistChanged(const melofon::app::MprisPlaylist& playlist);

private:
    Mpris* mpris_;
};

// Where the tables are, for a second copy looking for the one that has them open.
class MelofonStore : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.example.melofon.Store")
    Q_PROPERTY(QString Directory READ directory)
public:
    explicit MelofonStore(Mpris* mpris) : QDBusAbstractAdaptor(mpris), mpris_(mpris) {}
    QString directory() const { return mpris_->tablesDir(); }
public slots:
    // Raise, with the activation token of the copy that was started.
    void Activate(const QString& token) { mpris_->activate(token); }

private:
    Mpris* mpris_;
};

} // namespace melofon::app

Q_DECLARE_METATYPE(melofon::app::MprisPlaylist)
Q_DECLARE_METATYPE(melofon::app::MprisMaybePlaylist)
