#pragma once

#include <QString>

namespace melofon::test {

// The DOCUMENT rows the kill child writes, shared by the child and the test.
//
// Ids go up by one from the last row of the table, deleted or not. The path is a
// function of the id, so a torn or shifted row shows up as a path that does not match
// its id. The same rule is written once more in Python in kill_test.cpp; keep them in step.
constexpr int kKillRowPathLength = 160; // characters; at most ~240 bytes as UTF-8

inline QString killRowPath(qint64 id) {
    const QString unit = QStringLiteral("%1ñ").arg(id);
    QString path = QStringLiteral("/música/pista-%1-").arg(id);
    while (path.size() < kKillRowPathLength)
        path += unit;
    path.truncate(kKillRowPathLength);
    return path;
}

// After appending a row whose id is a multiple of 4, the child deletes the row two
// before it; so only ids of the form 4k+2 are ever deleted.
constexpr bool killRowDeletesAnother(qint64 id) { return id % 4 == 0; }
constexpr qint64 killRowDeletedBy(qint64 id) { return id - 2; }
constexpr bool killRowMayBeDeleted(qint64 id) { return id % 4 == 2; }

} // namespace melofon::test
