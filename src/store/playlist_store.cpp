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

} // namespace

QString PlaylistStore::chooseDirectory(const QStringList& candidates) {
    for (const QString& dir : candidates) {
        if (dir.isEmpty() || !QDir().mkpath(dir))
            continue;
        if (::access(QFile::encodeName(dir).constData(), W_OK | X_OK) == 0)
            return QDir(dir).absolutePath();
    }
    return {};
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
        // Every existing table is checked before a missing one is created, so that a
        // failure leaves the directory as it was.
        const QString names[] = {kListas, kDocument, kLisDoc};
        std::unique_ptr<DbfTable> tables[3];
        for (int i = 0; i < 3; ++i) {
            const QString path = findTableFile(dir_, names[i]);
            if (!path.isEmpty())
                tables[i] = DbfTable::open(path, DbfTable::Mode::ReadWrite);
        }
        for (int i = 0; i < 3; ++i) {
            if (tables[i])
                continue;
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
    // Sync all three even if one fails; report the first failure unless already unwinding.
    std::exception_ptr failure;
    for (DataSource* s : {store_.listas_.get(), store_.documentos_.get(), store_.lisDoc_.get()}) {
        try {
            s->table().sync();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure && std::uncaught_exceptions() == 0)
        std::rethrow_exception(failure);
}

} // namespace melofon::store
