#include "editing/commands.h"

#include <QDir>

#include <optional>
#include <vector>

namespace melofon::editing {

namespace {

const QString kAtencion = QStringLiteral("Atención");

// A text its field cannot hold is refused by the store; the user is told, nothing else.
bool isRefusal(const store::StoreError& e) {
    return e.kind() == store::StoreError::Kind::TooLong ||
           e.kind() == store::StoreError::Kind::NotRepresentable;
}

// A new id for `table`: one more than the greatest id of its live rows, which in a table
// in rising order (the only kind Melofon writes) is the last row's id plus one; 1 for an
// empty table. An id that a link still names in `linkField` is passed over, or the new
// row would inherit that link (another program, or a crash, can leave one behind).
// Nothing when the ids run out.
std::optional<qint32> newId(store::DbfTable& table, QByteArrayView idField, store::DbfTable& links,
                            QByteArrayView linkField) {
    const auto greatest = table.greatestId(table.requireField(idField));
    const int linked = links.requireField(linkField);
    qint64 id = greatest ? qint64(*greatest) + 1 : 1;
    while (id <= INT32_MAX && links.findId(linked, qint32(id), 0, links.rowCount()) != store::DbfTable::npos)
        ++id;
    if (id > INT32_MAX)
        return std::nullopt;
    return qint32(id);
}

// Tables that cannot be written are listed and played; every change is refused, with why.
bool refusedAsReadOnly(EditingContext& c) {
    try {
        c.store.requireWritable();
        return false;
    } catch (const store::StoreError& e) {
        c.messages.MsgBox(e.message(), MessageBoxes::vbOKOnly, kAtencion);
        return true;
    }
}

QString idsExhausted(const QString& what) {
    return QStringLiteral("No se puede agregar %1: ya se usó el último número disponible (2147483647).")
        .arg(what);
}

void refillLists(EditingContext& c) {
    c.enableEliminarLis(store::LlenarListas(c.lstListas, c.store.dtcListas()));
    store::LlenarDocumentos(c.lstContenido, store::SelId(c.lstListas), c.store.dtcLisDoc(),
                            c.store.dtcDocumentos());
}

// Adds one file to playlist `lisId`: its entry, its link, and its checked row in the
// file box. Throws the store's refusal when the path does not fit.
void addFile(EditingContext& c, qint32 lisId, const QString& path) {
    store::DataSource& docs = c.store.dtcDocumentos();
    store::Recordset& d = docs.recordset();
    store::DataSource& links = c.store.dtcLisDoc();
    const auto id = newId(docs.table(), "DocId", links.table(), "DocId");
    if (!id)
        throw store::StoreError(store::StoreError::Kind::BadValue,
                                idsExhausted(QStringLiteral("«%1»").arg(path)));
    d.AddNew();
    d.Fields("DocId") = *id;
    d.Fields("DocPath") = path;
    d.Update();
    docs.Refresh();

    store::Recordset& l = links.recordset();
    l.AddNew();
    l.Fields("LisId") = lisId;
    l.Fields("DocId") = *id;
    l.Update();
    links.Refresh();

    c.lstContenido.AddItem(store::keyedItem(*id, path));
    c.lstContenido.setSelected(c.lstContenido.ListCount() - 1, true);
}

} // namespace

void cmdNuevaLis_Click(EditingContext& c) {
    if (refusedAsReadOnly(c))
        return;
    const QString name = c.input.InputBox(QStringLiteral("Nombre de la lista:"), QStringLiteral("Nueva Lista"),
                                          QStringLiteral("Mi música favorita"));
    if (name.isEmpty())
        return;
    store::DataSource& listas = c.store.dtcListas();
    store::Recordset& rs = listas.recordset();
    const auto id = newId(listas.table(), "LisId", c.store.dtcLisDoc().table(), "LisId");
    if (!id) {
        c.messages.MsgBox(idsExhausted(QStringLiteral("la lista «%1»").arg(name)), MessageBoxes::vbOKOnly, kAtencion);
        return;
    }
    {
        store::PlaylistStore::Batch batch(c.store);
        rs.AddNew();
        rs.Fields("LisId") = *id;
        rs.Fields("LisDesc") = name;
        try {
            rs.Update();
        } catch (const store::StoreError& e) {
            if (!isRefusal(e))
                throw;
            c.messages.MsgBox(e.message(), MessageBoxes::vbOKOnly, kAtencion);
            return;
        }
        listas.Refresh();
    }
    c.lstListas.AddItem(store::keyedItem(*id, name));
    c.enableEliminarLis(true);
}

void cmdEliminarLis_Click(EditingContext& c) {
    if (refusedAsReadOnly(c))
        return;
    store::DataSource& listas = c.store.dtcListas();
    store::Recordset& rs = listas.recordset();
    if (rs.RecordCount() <= 0)
        return;
    const store::ListId selected = store::SelId(c.lstListas);
    if (!selected || !rs.FindFirst("LisId", *selected))
        return;
    const QString question = QStringLiteral("¿ Confirma que desea eliminar la Lista ") +
                             rs.Fields("LisDesc").toText() + QStringLiteral(" ?");
    if (c.messages.MsgBox(question, MessageBoxes::vbYesNo) != MessageBoxes::vbYes)
        return;
    const qint32 lisId = *rs.Fields("LisId").toInt32();

    {
        store::PlaylistStore::Batch batch(c.store);
        store::DataSource& links = c.store.dtcLisDoc();
        store::DataSource& docs = c.store.dtcDocumentos();
        store::Recordset& l = links.recordset();
        store::Recordset& d = docs.recordset();
        std::vector<qint32> docIds;
        for (bool link = l.FindFirst("LisId", lisId); link; link = l.FindNext("LisId", lisId)) {
            if (const auto docId = l.Fields("DocId").toInt32())
                docIds.push_back(*docId);
            l.Delete();
        }
        for (const qint32 docId : docIds)
            for (bool doc = d.FindFirst("DocId", docId); doc; doc = d.FindNext("DocId", docId))
                d.Delete();
        rs.Delete();
        listas.Refresh();
    }
    refillLists(c);
}

void cmdAgregarDoc_Click(EditingContext& c) {
    if (c.lstListas.SelCount() <= 0) {
        c.messages.MsgBox(QStringLiteral("Seleccione primero una lista de reproducción."), MessageBoxes::vbOKOnly,
                          kAtencion);
        return;
    }
    if (refusedAsReadOnly(c))
        return;
    OpenFileDialog& dialog = c.cmExplorar;
    if (!c.sDirectorio.isEmpty())
        dialog.InitDir = c.sDirectorio;
    dialog.Filter = QStringLiteral("MP3 (*.MP3)|*.MP3| MID (*.MID)|*.MID| WAV (*.WAV)|*.WAV;");
    dialog.Flags = OpenFileDialog::cdlOFNExplorer | OpenFileDialog::cdlOFNAllowMultiselect;
    dialog.DialogTitle = QStringLiteral("Seleccione un archivo para agregar a la lista");
    dialog.ShowOpen();

    const QString chosen = dialog.FileName;
    if (chosen.isEmpty())
        return;
    QString rest = chosen + QChar(0) + QChar(0);
    QStringList parts;
    for (QString part = store::StripItem(rest, QString(QChar(0))); !part.isEmpty();
         part = store::StripItem(rest, QString(QChar(0))))
        parts << part;

    const store::ListId lisId = store::SelId(c.lstListas);
    if (!lisId)
        return;
    QStringList paths;
    if (parts.size() < 2) {
        paths << chosen;
    } else {
        // Kept as chosen: on a case-sensitive file system another spelling names no file.
        c.sDirectorio = parts.first();
        QString dir = parts.first();
        if (!dir.endsWith(QDir::separator()))
            dir += QDir::separator();
        for (qsizetype i = 1; i < parts.size(); ++i)
            paths << dir + parts[i];
    }

    QStringList refused;
    try {
        store::PlaylistStore::Batch batch(c.store);
        for (const QString& path : paths) {
            try {
                addFile(c, *lisId, path);
            } catch (const store::StoreError& e) {
                if (!isRefusal(e) && e.kind() != store::StoreError::Kind::BadValue)
                    throw;
                refused << e.message();
            }
        }
    } catch (const store::StoreError&) {
        // None of the files was added: the box shows the playlist as it still is.
        store::LlenarDocumentos(c.lstContenido, lisId, c.store.dtcLisDoc(), c.store.dtcDocumentos());
        throw;
    }
    if (refused.size() == 1 && paths.size() == 1)
        c.messages.MsgBox(refused.first(), MessageBoxes::vbOKOnly, kAtencion);
    else if (!refused.isEmpty())
        c.messages.MsgBox(QStringLiteral("Estos archivos no se agregaron a la lista:\n\n") +
                              refused.join(QLatin1Char('\n')),
                          MessageBoxes::vbOKOnly, kAtencion);
}

void cmdEliminarDoc_Click(EditingContext& c) {
    if (c.lstContenido.ListCount() == 0) {
        c.messages.MsgBox(QStringLiteral("No hay nada para borrar"), MessageBoxes::vbOKOnly, kAtencion);
        return;
    }
    if (refusedAsReadOnly(c))
        return;
    store::DataSource& docs = c.store.dtcDocumentos();
    store::Recordset& d = docs.recordset();
    if (d.RecordCount() <= 0)
        return;
    const store::ListId selected = store::SelId(c.lstContenido);
    if (!selected || !d.FindFirst("DocId", *selected))
        return;
    const QString question = QStringLiteral("¿ Confirma que desea quitar de la lista el Documento ") +
                             d.Fields("DocPath").toText() + QStringLiteral(" ?");
    if (c.messages.MsgBox(question, MessageBoxes::vbYesNo) != MessageBoxes::vbYes)
        return;
    const qint32 docId = *d.Fields("DocId").toInt32();
    {
        store::PlaylistStore::Batch batch(c.store);
        // Every link to the entry, whatever its playlist, and the entry.
        store::DataSource& links = c.store.dtcLisDoc();
        store::Recordset& l = links.recordset();
        for (bool link = l.FindFirst("DocId", docId); link; link = l.FindNext("DocId", docId))
            l.Delete();
        d.Delete();
        docs.Refresh();
    }
    store::LlenarDocumentos(c.lstContenido, store::SelId(c.lstListas), c.store.dtcLisDoc(),
                            c.store.dtcDocumentos());
}

} // namespace melofon::editing
