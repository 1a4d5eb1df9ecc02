#pragma once

// A large store for the window and editing benchmarks: by default 100,000 file entries,
// one playlist of 10,000 of them (playlist 1) and 90 of 1,000, with the big playlist's
// files spread through DOCUMENT. Other sizes keep the big playlist and change the number
// of playlists of 1,000.

#include "app/qt_dialogs.h"
#include "playback/media_player.h"
#include "store/playlist_store.h"

#include <QString>

namespace melofon::bench {

constexpr int kBigPlaylist = 10'000;
constexpr int kOtherPlaylists = 90;
constexpr int kPerOther = 1'000;
constexpr int kEntries = kBigPlaylist + kOtherPlaylists * kPerOther;

inline std::vector<QVariant> row(const store::DbfTable& t, QByteArrayView a, const QVariant& va,
                                 QByteArrayView b, const QVariant& vb) {
    std::vector<QVariant> v(t.fields().size());
    v[std::size_t(t.fieldIndex(a))] = va;
    v[std::size_t(t.fieldIndex(b))] = vb;
    return v;
}

inline void generateLargeStore(const QString& dir, int entries = kEntries) {
    const int others = (entries - kBigPlaylist) / kPerOther;
    store::PlaylistStore s(dir);
    store::PlaylistStore::Batch batch(s);
    store::DbfTable& listas = s.dtcListas().table();
    store::DbfTable& docs = s.dtcDocumentos().table();
    store::DbfTable& links = s.dtcLisDoc().table();
    for (int l = 1; l <= others + 1; ++l)
        listas.append(row(listas, "LISID", l, "LISDESC", QStringLiteral("Lista número %1").arg(l)));
    int docId = 0;
    for (int i = 0; i < kPerOther; ++i) {
        for (int l = 1; l <= others + 1; ++l) {
            const int copies = l == 1 ? kBigPlaylist / kPerOther : 1;
            for (int c = 0; c < copies; ++c) {
                ++docId;
                docs.append(row(docs, "DOCID", docId, "DOCPATH",
                                QStringLiteral("/home/usuario/Música/Artista %1/Álbum/%2 - Canción %3.mp3")
                                    .arg(l, 3, 10, QLatin1Char('0'))
                                    .arg(i, 4, 10, QLatin1Char('0'))
                                    .arg(docId)));
                links.append(row(links, "LISID", l, "DOCID", docId));
            }
        }
    }
}

// The window needs a player; nothing plays in these benchmarks.
struct SilentPlayer : playback::MediaPlayer {
    QString FileName() const override { return {}; }
    void setFileName(const QString&) override {}
    double CurrentPosition() const override { return 0; }
    double Duration() const override { return 0; }
    int PlayState() const override { return Closed; }
    int Volume() const override { return 0; }
    void setVolume(int) override {}
    void Play() override {}
    void Pause() override {}
    void Stop() override {}
    void setNextFiles(const playback::QueuedFiles&) override {}
    playback::QueuedFiles NextFiles() const override { return {}; }
    quint64 Opens() const override { return 0; }
    playback::PlayerNotifier* notifier() override { return &notifier_; }
    playback::PlayerNotifier notifier_;
};

} // namespace melofon::bench
