#pragma once

// How data flows through Melofon
// ------------------------------
// Three dBASE III tables in the program's directory hold everything: Listas (playlists),
// DOCUMENT (file entries) and LISDOC (which entry belongs to which playlist). DbfTable
// reads a table file's ids once, indexed, reads its texts from the file as they are asked
// for, and writes every change straight through to disk.
// Each table is reached through one DataSource (dtcListas, dtcDocumentos, dtcLisDoc),
// whose Recordset is a cursor with the classic walk operations (MoveFirst, MoveNext,
// Eof, Fields, AddNew/Update, Delete) plus FindFirst/FindNext by id through the index.
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

    // Where the playlists live: beside the program when any of the tables is there (so a
    // copy brought along with them keeps them), otherwise `dataDir`, created if missing.
    // An empty string when `dataDir` cannot be created.
    static QString locate(const QString& programDir, const QString& dataDir);

    // Locks `dir` against a second Melofon, opens the three tables, and only when all
    // three are accepted completes the command an interrupted commit left in the journal,
    // mends what an interrupted write left and creates the tables that are missing. When
    // `dir` or a table in it cannot be written, the tables are opened for reading only.
    // Throws StoreError (AlreadyOpen, UnusableJournal, or the table's own error) and then
    // leaves every file as it was.
    explicit PlaylistStore(const QString& dir);
    ~PlaylistStore();
    PlaylistStore(const PlaylistStore&) = delete;
    PlaylistStore& operator=(const PlaylistStore&) = delete;

    const QString& directory() const { return dir_; }
    // Why the tables cannot be changed; empty when they can.
    const QString& readOnlyReason() const { return readOnlyReason_; }
    // Throws StoreError (ReadOnly) saying that the playlists here cannot be changed.
    void requireWritable() const;
    DataSource& dtcListas() { return *listas_; }
    DataSource& dtcDocumentos() { return *documentos_; }
    DataSource& dtcLisDoc() { return *lisDoc_; }

    // A batch is one command: its changes to the three tables are committed together when
    // the outermost batch ends, through the journal, so that after a crash or a power cut
    // the next start finds all of them or none. A batch left by an exception takes them
    // all back. Without a batch every row is committed at once, table by table.
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
    void commit();
    void discardUncommitted();
    // Rows a rollback took back or revived are counted again.
    void refreshSources();
    void completeInterruptedCommit(std::unique_ptr<DbfTable> (&tables)[3], const QString (&paths)[3],
                                   DbfTable::Mode mode);

    QString dir_;
    QString readOnlyReason_;
    int lockFd_ = -1;
    int batchDepth_ = 0;
    std::unique_ptr<DataSource> listas_;
    std::unique_ptr<DataSource> documentos_;
    std::unique_ptr<DataSource> lisDoc_;
};

} // namespace melofon::store
