#pragma once

#include "store/list_views.h"

#include <functional>
#include <vector>

namespace melofon::test {

// A list box as the walk sees it, with a click handler like the window's playlist box.
class FakeListBox : public store::ListBox {
public:
    void Clear() override {
        rows.clear();
        current = -1;
        ++generation;
    }
    void AddItem(const QString& text) override { rows.push_back({text, false}); }
    void AddItems(const QStringList& texts, bool selected) override {
        for (const QString& t : texts)
            rows.push_back({t, selected});
    }
    int ListCount() const override { return int(rows.size()); }
    int ListIndex() const override { return current; }
    bool setListIndex(int index) override {
        if (index < -1 || index >= ListCount())
            return false;
        const bool changed = index != current;
        current = index;
        if (changed && index >= 0 && onClick)
            onClick();
        return true;
    }
    QString List(int index) const override { return rows.at(std::size_t(index)).first; }
    bool Selected(int index) const override { return rows.at(std::size_t(index)).second; }
    void setSelected(int index, bool selected) override { rows.at(std::size_t(index)).second = selected; }
    int SelCount() const override { return current >= 0 ? 1 : 0; }
    quint64 Generation() const override { return generation; }

    std::vector<std::pair<QString, bool>> rows;
    int current = -1;
    quint64 generation = 0;
    std::function<void()> onClick;
};

} // namespace melofon::test
