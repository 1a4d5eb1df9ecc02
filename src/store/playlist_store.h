#pragma once

// How data flows through Melofon
// ------------------------------
// Three dBASE III tables in the program's directory hold everything: Listas (playlists),
// DOCUMENT (file entries) and LISDOC (which entry belongs to which playlist). DbfTable
// reads a table file into memory once and writes every change straight through to disk.
// Each table is reached through one DataSource (dtcListas, dtcDocumentos, dtcLisDoc),
// whose Recordset is a cursor with the classic walk operations (MoveFirst, MoveNext,
// Eof, Fields, AddNew/Update, Delete) plus constant-time FindFirst/FindNext by id.
// PlaylistStore owns the three sources and the lock on their directory.
//
// The main window fills its two list boxes from the row sets (keyed items "id - text")
// and the editing commands write through them. The playlist walk reads the chosen
// file's path back from the file box and hands it to the media player; the player
// never sees the tables.

#include "store/data_source.h"

#include <QString>

#include <memory>

namespace melofon::store {

class PlaylistStore {
public:
    // Table names, as the record sources name them.
    static const QString kListas;
    static const QString kDocument;
    static const QString kLisDoc;

    // The first of the candidates that is a writable directory (created if missing);
    // an empty string when none is.
    static QString chooseDirectory(const QStringList& candidates);

    // Locks `dir` against a second Melofon, opens the three tables and creates those that
    // are missing. Throws StoreError (AlreadyOpen, or the table's own error) and then
    // leaves every file as it was.
    explicit PlaylistStore(const QString& dir);
    ~PlaylistStore();
    PlaylistStore(const PlaylistStore&) = delete;
    PlaylistStore& operator=(const PlaylistStore&) = delete;

    const QString& directory() const { return dir_; }
    DataSource& dtcListas() { return *listas_; }
    DataSource& dtcDocumentos() { return *documentos_; }
    DataSource& dtcLisDoc() { return *lisDoc_; }

    // Within a command, rows are synced to disk once, when the outermost batch ends,
    // instead of after every row. Without a batch every row is synced at once.
    class Batch {
    public:
        explicit Batch(PlaylistStore& store);
        ~Batch() noexcept(false);
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        PlaylistStore& store_;
    };

private:
    void setDeferSync(bool defer);

    QString dir_;
    int lockFd_ = -1;
    int batchDepth_ = 0;
    std::unique_ptr<DataSource> listas_;
    std::unique_ptr<DataSource> documentos_;
    std::unique_ptr<DataSource> lisDoc_;
};

} // namespace melofon::store
