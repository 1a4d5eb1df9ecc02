#include "store/playlist_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

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

void PlaylistStore::setDeferSync(bool defer) {
    for (DataSource* s : {listas_.get(), documentos_.get(), lisDoc_.get()})
        s->table().setDeferSync(defer);
}

PlaylistStore::Batch::Batch(PlaylistStore& store) : store_(store) {
    if (store_.batchDepth_++ == 0)
        store_.setDeferSync(true);
}

PlaylistStore::Batch::~Batch() noexcept(false) {
    if (--store_.batchDepth_ != 0)
        return;
    store_.setDeferSync(false);
    // Entries before the links that name them. Once a commit fails, the tables after it
    // take back their uncommitted rows: a link must not outlive the entry it names.
    // Reports the first failure unless already unwinding.
    std::exception_ptr failure;
    for (DataSource* s : {store_.documentos_.get(), store_.lisDoc_.get(), store_.listas_.get()}) {
        if (failure) {
            s->table().discardUncommitted();
            continue;
        }
        try {
            s->table().commit();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure && std::uncaught_exceptions() == 0)
        std::rethrow_exception(failure);
}

} // namespace melofon::store
