#include "store/list_views.h"

namespace melofon::store {

namespace {
const QString kSeparator = QStringLiteral(" - ");
}

QString keyedItem(qint32 id, const QString& text) { return QString::number(id) + kSeparator + text; }

namespace {
// A row written by another program may hold no usable id; its text then parses back to
// no id instead of failing the whole fill.
QString idText(const Field& field) {
    const auto id = field.toInt32();
    return id ? QString::number(*id) : field.toText().trimmed();
}
} // namespace

ListId IdOfRow(const QString& row) {
    const qsizetype p = row.indexOf(kSeparator);
    if (p < 0)
        return std::nullopt;
    bool ok = false;
    const qint32 id = row.left(p).trimmed().toInt(&ok);
    return ok ? ListId(id) : std::nullopt;
}

QString PathOfRow(const QString& row) {
    const qsizetype p = row.indexOf(kSeparator);
    return p < 0 ? QString() : row.mid(p + kSeparator.size());
}

ListId SelId(const ListBox& box) {
    const int index = box.ListIndex();
    return index < 0 ? std::nullopt : IdOfRow(box.List(index));
}

QString SelPathDocumento(const ListBox& box) {
    const int index = box.ListIndex();
    return index < 0 ? QString() : PathOfRow(box.List(index));
}

QString StripItem(QString& startStrg, const QString& parser) {
    const qsizetype i = parser.size() == 1 ? startStrg.indexOf(parser.at(0)) : -1;
    if (i < 0) {
        QString all = startStrg;
        startStrg.clear();
        return all;
    }
    const QString item = startStrg.left(i);
    startStrg.remove(0, i + 1);
    return item;
}

bool LlenarListas(ListBox& lstListas, DataSource& dtcListas) {
    lstListas.Clear();
    Recordset& rs = dtcListas.recordset();
    if (rs.RecordCount() <= 0)
        return false;
    QStringList rows;
    rows.reserve(rs.RecordCount());
    for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext())
        rows << idText(rs.Fields("LisId")) + kSeparator + rs.Fields("LisDesc").toText();
    lstListas.AddItems(rows, false);
    return true;
}

void LlenarDocumentos(ListBox& lstContenido, ListId lisId, DataSource& dtcLisDoc,
                      DataSource& dtcDocumentos) {
    lstContenido.Clear();
    Recordset& links = dtcLisDoc.recordset();
    Recordset& docs = dtcDocumentos.recordset();
    if (links.RecordCount() <= 0 || !lisId)
        return;
    // The same rows, in the same order, as walking every link and then DOCUMENT from its
    // first row for each; the finds make it linear in the playlist's size.
    QStringList rows;
    for (bool link = links.FindFirst("LisId", *lisId); link; link = links.FindNext("LisId", *lisId)) {
        const auto docId = links.Fields("DocId").toInt32();
        if (!docId || docs.RecordCount() <= 0 || !docs.FindFirst("DocId", *docId))
            continue;
        rows << keyedItem(*docId, docs.Fields("DocPath").toText());
    }
    lstContenido.AddItems(rows, true);
}

} // namespace melofon::store
