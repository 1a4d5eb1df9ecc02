#pragma once

#include <QString>

namespace melofon::editing {

// The modal boxes and the open-file dialog, as the commands use them. The program shows
// Qt's own (app/qt_dialogs.h); tests answer from a script.

// Flags: 0 an OK button only, 4 Yes and No; no icon. The answer: 1 OK, 6 Yes, 7 No.
// Without a title of its own the box bears "Melofon".
class MessageBoxes {
public:
    enum Flags { vbOKOnly = 0, vbYesNo = 4 };
    enum Answer { vbOK = 1, vbYes = 6, vbNo = 7 };

    virtual ~MessageBoxes() = default;
    virtual int MsgBox(const QString& prompt, int flags = vbOKOnly, const QString& title = {}) = 0;
};

// A text-input box; the empty text when cancelled.
class InputBoxes {
public:
    virtual ~InputBoxes() = default;
    virtual QString InputBox(const QString& prompt, const QString& title, const QString& defaultText) = 0;
};

// The open-file dialog (cmExplorar). Its settings stay between uses. After ShowOpen,
// FileName is one full path when one file was chosen; the directory, then each chosen
// name, separated by NUL characters when several were; the empty text on cancel.
class OpenFileDialog {
public:
    static constexpr int cdlOFNAllowMultiselect = 0x200;
    static constexpr int cdlOFNExplorer = 0x80000;

    virtual ~OpenFileDialog() = default;
    virtual void ShowOpen() = 0;

    QString InitDir;
    // "description|pattern|description|pattern..."; patterns ignore letter case.
    QString Filter;
    int Flags = 0;
    QString DialogTitle;
    QString FileName;
};

// The three, handed together to the window.
struct Dialogs {
    MessageBoxes& messages;
    InputBoxes& input;
    OpenFileDialog& cmExplorar;
};

} // namespace melofon::editing
