#pragma once

#include <QString>

class QWidget;

namespace melofon::app {

// Modal message boxes, as the commands use them. Flags: 0 an OK button only, 4 Yes and
// No; no icon. The answer: 1 OK, 6 Yes, 7 No. Without a title the box bears "Melofon".
class MessageBoxes {
public:
    enum Flags { vbOKOnly = 0, vbYesNo = 4 };
    enum Answer { vbOK = 1, vbYes = 6, vbNo = 7 };

    virtual ~MessageBoxes() = default;
    virtual int MsgBox(const QString& prompt, int flags = vbOKOnly, const QString& title = {}) = 0;
};

class QtMessageBoxes : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    int MsgBox(const QString& prompt, int flags = vbOKOnly, const QString& title = {}) override;

private:
    QWidget* parent_;
};

} // namespace melofon::app
