#pragma once

#include "store/playlist_store.h"

namespace melofon::test {

// Appends one row through a data source, the way the program does, without a Refresh.
inline void appendRow(store::DataSource& source, QByteArrayView idField, qint32 id,
                      QByteArrayView otherField, const QVariant& other) {
    store::Recordset& rs = source.recordset();
    rs.AddNew();
    rs.Fields(idField) = id;
    rs.Fields(otherField) = other;
    rs.Update();
}

inline void addPlaylist(store::PlaylistStore& s, qint32 id, const QString& name) {
    appendRow(s.dtcListas(), "LisId", id, "LisDesc", name);
}

// A file entry and its link to playlist `lisId`.
inline void addFile(store::PlaylistStore& s, qint32 lisId, qint32 docId, const QString& path) {
    appendRow(s.dtcDocumentos(), "DocId", docId, "DocPath", path);
    appendRow(s.dtcLisDoc(), "LisId", lisId, "DocId", docId);
}

} // namespace melofon::test
