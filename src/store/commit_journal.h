#pragma once

// The journal of a commit that spans the three tables. Written whole and made durable
// under its name before any byte a reader counts is changed, removed once every table
// holds the commit: a start that finds it completes the commit; a start that finds none
// cuts the new records back (DbfTable::repair), so the command is there whole or not at
// all. It names, per table, the counts before and after, a digest of the new records
// (already durable behind the end mark) and the rows to mark deleted: a few lines of text.

#include "store/dbf_table.h"

#include <QString>

#include <optional>
#include <vector>

namespace melofon::store::journal {

// Beside the tables; the second while it is being written.
inline const QString kFileName = QStringLiteral("Melofon-diario.txt");
inline const QString kNewFileName = QStringLiteral("Melofon-diario.nuevo");

struct TableEntry {
    QString fileName; // the table's file name as found in the directory
    DbfTable::Commit commit;
};

QByteArray encode(const std::vector<TableEntry>& entries);
// Nothing when the text is not a whole journal of this version.
std::optional<std::vector<TableEntry>> decode(const QByteArray& text);

// Writes `text` as the journal of `dir` and makes it durable; `dirFd` is the directory
// opened for syncing. On a failure removes what it wrote and throws StoreError.
void write(const QString& dir, int dirFd, const QByteArray& text);

} // namespace melofon::store::journal
