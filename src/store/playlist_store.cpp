#include "store/playlist_store.h"

#include "store/commit_journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <vector>

namespace melofon::store {

const QString PlaylistStore::kListas = QStringLiteral("Listas");
const QString PlaylistStore::kDocument = QStringLiteral("DOCUMENT");
const QString PlaylistStore::kLisDoc = QStringLiteral("LISDOC");

namespace {

std::vector<FieldDef> fieldsOf(const QString& table) {
    const FieldDef lisId{"LISID", 'N', 11, 0};
    const FieldDef docId{"DOCID", 'N', 11, 0};
    if (table == PlaylistStore::kListas)
        return {lisId, {"LISDESC", 'C', 254, 0}};
    if (table == PlaylistStore::kDocument)
        return {docId, {"DOCPATH", 'C', 254, 0}};
    return {lisId, docId};
}

// Why `path` cannot be written, or an empty string when it can.
QString whyNotWritable(const QString& path) {
    if (::access(QFile::encodeName(path).constData(), W_OK) == 0)
        return {};
    switch (errno) {
    case EROFS:
        return QStringLiteral("está en un sistema de archivos de solo lectura");
    case EACCES:
    case EPERM:
        return QStringLiteral("no hay permiso para escribir en %1").arg(QDir::toNativeSeparators(path));
    default:
        return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path),
                                            QString::fromLocal8Bit(std::strerror(errno)));
    }
}

} // namespace

QString PlaylistStore::locate(const QString& programDir, const QString& dataDir) {
    for (const QString& name : {kListas, kDocument, kLisDoc})
        if (!findTableFile(programDir, name).isEmpty())
            return QDir(programDir).absolutePath();
    return QDir().mkpath(dataDir) ? QDir(dataDir).absolutePath() : QString();
}

PlaylistStore::PlaylistStore(const QString& dir) : dir_(QDir(dir).absolutePath()) {
    lockFd_ = ::open(QFile::encodeName(dir_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lockFd_ < 0)
        throw StoreError(StoreError::Kind::CannotOpen,
                         QStringLiteral("No se puede abrir la carpeta de las listas %1: %2.")
                             .arg(QDir::toNativeSeparators(dir_),
                                  QString::fromLocal8Bit(std::strerror(errno))));
    // Two copies writing the same tables would corrupt them.
    if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        ::close(lockFd_);
        lockFd_ = -1;
        throw StoreError(StoreError::Kind::AlreadyOpen,
                         QStringLiteral("Las listas de reproducción de %1 ya están abiertas en otra "
                                        "ventana de Melofon.")
                             .arg(QDir::toNativeSeparators(dir_)));
    }

    try {
        const QString names[] = {kListas, kDocument, kLisDoc};
        QString paths[3];
        readOnlyReason_ = whyNotWritable(dir_);
        for (int i = 0; i < 3; ++i) {
            paths[i] = findTableFile(dir_, names[i]);
            if (readOnlyReason_.isEmpty() && !paths[i].isEmpty())
                readOnlyReason_ = whyNotWritable(paths[i]);
        }
        const auto mode = readOnlyReason_.isEmpty() ? DbfTable::Mode::ReadWrite : DbfTable::Mode::ReadOnly;

        // Every existing table is read and accepted before anything is written, so that
        // a refused start leaves the directory as it was.
        std::unique_ptr<DbfTable> tables[3];
        for (int i = 0; i < 3; ++i) {
            if (!paths[i].isEmpty())
                tables[i] = DbfTable::open(paths[i], mode);
            else if (mode == DbfTable::Mode::ReadOnly)
                throw StoreError(StoreError::Kind::ReadOnly,
                                 QStringLiteral("En la carpeta %1 falta la tabla %2 y no se puede "
                                                "crear: %3.")
                                     .arg(QDir::toNativeSeparators(dir_), names[i], readOnlyReason_));
        }
        completeInterruptedCommit(tables, paths, mode);
        for (int i = 0; i < 3; ++i) {
            if (tables[i]) {
                tables[i]->repair();
                continue;
            }
            const QString path = dir_ + QLatin1Char('/') + names[i] + QStringLiteral(".dbf");
            DbfTable::create(path, fieldsOf(names[i]));
            tables[i] = DbfTable::open(path, DbfTable::Mode::ReadWrite);
        }
        listas_ = std::make_unique<DataSource>(std::move(tables[0]));
        documentos_ = std::make_unique<DataSource>(std::move(tables[1]));
        lisDoc_ = std::make_unique<DataSource>(std::move(tables[2]));
    } catch (...) {
        ::close(lockFd_);
        lockFd_ = -1;
        throw;
    }
}

void PlaylistStore::requireWritable() const {
    if (!readOnlyReason_.isEmpty())
        throw StoreError(StoreError::Kind::ReadOnly,
                         QStringLiteral("Las listas de reproducción de la carpeta %1 no se pueden "
                                        "cambiar: %2.")
                             .arg(QDir::toNativeSeparators(dir_), readOnlyReason_));
}

PlaylistStore::~PlaylistStore() {
    // Tables close (and sync) before the lock is let go.
    listas_.reset();
    documentos_.reset();
    lisDoc_.reset();
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

// The journal of a commit that was interrupted: the command it names is completed before
// anything reads the tables. One that cannot be completed refuses the start unchanged.
void PlaylistStore::completeInterruptedCommit(std::unique_ptr<DbfTable> (&tables)[3], const QString (&paths)[3],
                                              DbfTable::Mode mode) {
    TableIo& io = TableIo::current();
    const QDir dir(dir_);
    // One never renamed into place: its command never happened. Removed once the start
    // is sure to go ahead.
    const auto removeUnfinished = [&] {
        if (mode == DbfTable::Mode::ReadWrite && QFileInfo::exists(dir.filePath(journal::kNewFileName)))
            io.remove(dir.filePath(journal::kNewFileName));
    };
    const QString path = dir.filePath(journal::kFileName);
    if (!QFileInfo::exists(path)) {
        removeUnfinished();
        return;
    }
    const auto refuse = [&](const QString& why) {
        throw StoreError(StoreError::Kind::UnusableJournal,
                         QStringLiteral("No se pueden abrir las listas de reproducción de %1: el archivo %2 "
                                        "guarda un cambio que quedó a medias y Melofon no lo puede completar (%3). "
                                        "No se ha cambiado nada. Para abrir las tablas tal como están, retire "
                                        "ese archivo de la carpeta.")
                             .arg(QDir::toNativeSeparators(dir_), journal::kFileName, why));
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        refuse(file.errorString());
    const auto entries = journal::decode(file.read(16 << 20));
    if (!entries || !file.atEnd())
        refuse(QStringLiteral("no es un diario de Melofon o está dañado"));
    if (mode != DbfTable::Mode::ReadWrite)
        refuse(readOnlyReason_);
    int tableOf[3] = {-1, -1, -1};
    for (std::size_t e = 0; e < entries->size(); ++e) {
        const QString& name = (*entries)[e].fileName;
        int found = -1;
        for (int i = 0; i < 3; ++i)
            if (tables[i] && QFileInfo(paths[i]).fileName() == name)
                found = i;
        if (found < 0 || tableOf[found] >= 0)
            refuse(QStringLiteral("no está la tabla %1").arg(name));
        if (!tables[found]->holds((*entries)[e].commit))
            refuse(QStringLiteral("la tabla %1 no guarda lo que el diario indica").arg(name));
        tableOf[found] = int(e);
    }
    for (int i = 0; i < 3; ++i)
        if (tableOf[i] >= 0)
            tables[i]->completeCommit((*entries)[std::size_t(tableOf[i])].commit);
    removeUnfinished();
    io.remove(path);
    io.syncDirectory(lockFd_);
    for (int i = 0; i < 3; ++i)
        if (tableOf[i] >= 0)
            tables[i] = DbfTable::open(paths[i], mode);
}

void PlaylistStore::setDeferSync(bool defer) {
    for (DataSource* s : {listas_.get(), documentos_.get(), lisDoc_.get()})
        s->table().setDeferSync(defer);
}

// The new records, made durable behind the end mark; the journal, made durable under its
// name (the instant the command happens); the counts, flags and marks in place, made
// durable; the journal removed. Removing it needs no sync: a journal found again names a
// commit that is already whole, and the next commit's sync of the directory removes it
// for good first.
void PlaylistStore::commit() {
    DbfTable* tables[] = {&documentos_->table(), &lisDoc_->table(), &listas_->table()};
    std::vector<journal::TableEntry> entries;
    for (DbfTable* t : tables)
        if (t->hasUncommitted())
            entries.push_back({QFileInfo(t->path()).fileName(), {}});
    if (entries.empty())
        return;
    try {
        for (DbfTable* t : tables)
            t->syncAppended();
        std::size_t e = 0;
        for (DbfTable* t : tables)
            if (t->hasUncommitted())
                entries[e++].commit = t->pendingCommit();
        journal::write(dir_, lockFd_, journal::encode(entries));
    } catch (const StoreError&) {
        discardUncommitted();
        throw;
    }
    try {
        for (DbfTable* t : tables)
            t->applyCommit();
    } catch (const StoreError&) {
        // Put back, the command is as if never given; if that fails too, the journal stays
        // and the next start completes it.
        bool restored = true;
        for (DbfTable* t : tables)
            restored = t->discardUncommitted() && restored;
        if (restored)
            TableIo::current().remove(QDir(dir_).filePath(journal::kFileName));
        refreshSources();
        throw;
    }
    for (DbfTable* t : tables)
        t->endCommit();
    TableIo::current().remove(QDir(dir_).filePath(journal::kFileName));
}

void PlaylistStore::discardUncommitted() {
    for (DataSource* s : {documentos_.get(), lisDoc_.get(), listas_.get()})
        s->table().discardUncommitted();
    refreshSources();
}

void PlaylistStore::refreshSources() {
    for (DataSource* s : {documentos_.get(), lisDoc_.get(), listas_.get()})
        s->Refresh();
}

PlaylistStore::Batch::Batch(PlaylistStore& store) : store_(store) {
    if (store_.batchDepth_++ == 0)
        store_.setDeferSync(true);
}

PlaylistStore::Batch::~Batch() noexcept(false) {
    if (--store_.batchDepth_ != 0)
        return;
    store_.setDeferSync(false);
    // A command that failed part way is taken back whole.
    if (std::uncaught_exceptions() > 0)
        store_.discardUncommitted();
    else
        store_.commit();
}

} // namespace melofon::store
