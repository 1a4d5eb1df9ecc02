#pragma once

#include "store/data_source.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace melofon::store {

// What the list-view procedures need of a list box; the window's list widgets provide it,
// so the procedures themselves run without a window.
class ListBox {
public:
    virtual ~ListBox() = default;
    virtual void Clear() = 0;
    virtual void AddItem(const QString& text) = 0;
    // Appends rows and sets each one's Selected state: one widget update for many rows.
    virtual void AddItems(const QStringList& texts, bool selected) = 0;
    virtual int ListCount() const = 0;
    virtual int ListIndex() const = 0;
    // -1 clears the current row; an index that names no row is refused (false) and
    // leaves the current row as it was.
    virtual bool setListIndex(int index) = 0;
    virtual QString List(int index) const = 0;
    virtual bool Selected(int index) const = 0;
    virtual void setSelected(int index, bool selected) = 0;
    virtual int SelCount() const = 0;
    // Changes whenever the rows are cleared, so that a walk can tell its entries were
    // replaced by a refill.
    virtual quint64 Generation() const = 0;
};

// "No id": no table id can equal it, so nothing is listed, linked or deleted for it.
using ListId = std::optional<qint32>;

// A box row's text: the id in decimal, " - ", the name or path as stored.
QString keyedItem(qint32 id, const QString& text);

// A row's id and its text after the id, both parsed at the first " - ": the id's digits
// hold no separator, so a name or path that does is returned whole. A row written by
// another program may begin with a hyphen of its own ("-5 - a.mp3" is id -5, path
// "a.mp3"). Every reader of the boxes' rows goes through these two.
ListId IdOfRow(const QString& row);
QString PathOfRow(const QString& row);

// The id parsed back from the box's current row (the playlist box or the file box).
ListId SelId(const ListBox& box);
// The path of the file box's current row, or empty with no current row.
QString SelPathDocumento(const ListBox& box);

// Cuts the first item off `startStrg`, whose items end with the one character `parser`.
// Without the separator the whole text is the item and `startStrg` becomes empty.
QString StripItem(QString& startStrg, const QString& parser);

// Refills the playlist box from Listas in stored order, nothing selected. Returns whether
// there are playlists, which is what enables the delete-playlist button.
bool LlenarListas(ListBox& lstListas, DataSource& dtcListas);

// Refills the file box with the files of playlist `lisId`, in the stored order of its
// links, every row checked. A link to a missing file entry is left out.
void LlenarDocumentos(ListBox& lstContenido, ListId lisId, DataSource& dtcLisDoc,
                      DataSource& dtcDocumentos);

} // namespace melofon::store
