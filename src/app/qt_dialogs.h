#pragma once

#include "ui/dialogs.h"

#include <QStringList>

class QWidget;

namespace melofon::app {

class QtMessageBoxes : public editing::MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    int MsgBox(const QString& prompt, int flags = vbOKOnly, const QString& title = {}) override;

private:
    QWidget* parent_;
};

class QtInputBoxes : public editing::InputBoxes {
public:
    explicit QtInputBoxes(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    QString InputBox(const QString& prompt, const QString& title, const QString& defaultText) override;

private:
    QWidget* parent_;
};

class QtOpenFileDialog : public editing::OpenFileDialog {
public:
    explicit QtOpenFileDialog(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    void ShowOpen() override;

    // "MP3 (*.MP3)|*.MP3|..." as Qt's name filters: "MP3 (*.MP3) (*.MP3)"... one per pair.
    static QStringList nameFilters(const QString& filter);

private:
    QWidget* parent_;
};

} // namespace melofon::app
