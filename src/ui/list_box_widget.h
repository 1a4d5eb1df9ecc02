#pragma once

#include "store/list_views.h"

#include <QListWidget>

namespace melofon::app {

// A list widget with the list-box behaviour the window's procedures rely on: a current
// row that code can set (an index naming no row is refused), a Click signal whenever the
// current row changes to a row (by the user or by code, never by Clear), and Selected
// states that are the check marks when the box has a check box on each row.
class ListBoxWidget : public QListWidget, public store::ListBox {
    Q_OBJECT
public:
    ListBoxWidget(bool checkBoxes, QWidget* parent);

    void Clear() override;
    void AddItem(const QString& text) override;
    void AddItems(const QStringList& texts, bool selected) override;
    int ListCount() const override { return count(); }
    int ListIndex() const override { return currentRow(); }
    bool setListIndex(int index) override;
    QString List(int index) const override;
    bool Selected(int index) const override;
    void setSelected(int index, bool selected) override;
    int SelCount() const override;
    quint64 Generation() const override { return generation_; }

    // One row drawn in bold (-1: none); its text, check mark and the current row are left
    // as they are.
    int boldRow() const { return boldRow_; }
    void setBoldRow(int row);

signals:
    void Click();

private:
    bool checkBoxes_;
    quint64 generation_ = 0;
    int boldRow_ = -1;
};

} // namespace melofon::app
