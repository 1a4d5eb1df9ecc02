#include "ui/list_box_widget.h"

#include <QSignalBlocker>

namespace melofon::app {

ListBoxWidget::ListBoxWidget(bool checkBoxes, QWidget* parent)
    : QListWidget(parent), checkBoxes_(checkBoxes) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(false);
    // All rows are one line high: lets the view skip measuring thousands of rows.
    setUniformItemSizes(true);
    connect(this, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0)
            emit Click();
    });
}

void ListBoxWidget::Clear() {
    ++generation_;
    boldRow_ = -1;
    clear();
}

void ListBoxWidget::setBoldRow(int row) {
    if (row == boldRow_)
        return;
    const auto embolden = [this](int r, bool on) {
        if (QListWidgetItem* it = item(r)) {
            QFont f = it->font();
            f.setBold(on);
            it->setFont(f);
        }
    };
    // Font changes emit itemChanged, which is how check marks are seen to change.
    const QSignalBlocker quiet(this);
    embolden(boldRow_, false);
    boldRow_ = item(row) ? row : -1;
    embolden(boldRow_, true);
    viewport()->update();
}

void ListBoxWidget::AddItem(const QString& text) { AddItems({text}, false); }

void ListBoxWidget::AddItems(const QStringList& texts, bool selected) {
    if (texts.isEmpty())
        return;
    setUpdatesEnabled(false);
    for (const QString& text : texts) {
        auto* item = new QListWidgetItem(text);
        if (checkBoxes_) {
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(selected ? Qt::Checked : Qt::Unchecked);
        }
        addItem(item);
        if (!checkBoxes_ && selected)
            setCurrentItem(item);
    }
    setUpdatesEnabled(true);
}

bool ListBoxWidget::setListIndex(int index) {
    if (index < -1 || index >= count())
        return false;
    setCurrentRow(index);
    return true;
}

QString ListBoxWidget::List(int index) const {
    const QListWidgetItem* it = item(index);
    return it ? it->text() : QString();
}

bool ListBoxWidget::Selected(int index) const {
    const QListWidgetItem* it = item(index);
    if (!it)
        return false;
    return checkBoxes_ ? it->checkState() == Qt::Checked : it->isSelected();
}

void ListBoxWidget::setSelected(int index, bool selected) {
    QListWidgetItem* it = item(index);
    if (!it)
        return;
    if (checkBoxes_)
        it->setCheckState(selected ? Qt::Checked : Qt::Unchecked);
    else if (selected)
        setCurrentItem(it);
    else
        it->setSelected(false);
}

int ListBoxWidget::SelCount() const {
    if (!checkBoxes_)
        return int(selectedItems().size());
    int n = 0;
    for (int i = 0; i < count(); ++i)
        n += item(i)->checkState() == Qt::Checked ? 1 : 0;
    return n;
}

} // namespace melofon::app
