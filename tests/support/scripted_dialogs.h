#pragma once

#include "ui/dialogs.h"

#include <QString>

#include <deque>
#include <vector>

namespace melofon::test {

// Message boxes that answer from a script and remember what they were asked.
class ScriptedMessageBoxes : public editing::MessageBoxes {
public:
    struct Call {
        QString prompt;
        int flags;
        QString title;
    };

    int MsgBox(const QString& prompt, int flags, const QString& title) override {
        calls.push_back({prompt, flags, title});
        if (answers.empty())
            return flags == vbYesNo ? vbNo : vbOK;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::vector<Call> calls;
    std::deque<int> answers;
};

class ScriptedInputBoxes : public editing::InputBoxes {
public:
    struct Call {
        QString prompt, title, defaultText;
    };

    // Without a scripted answer the user accepts the default text.
    QString InputBox(const QString& prompt, const QString& title, const QString& defaultText) override {
        calls.push_back({prompt, title, defaultText});
        if (answers.empty())
            return defaultText;
        const QString answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::vector<Call> calls;
    std::deque<QString> answers;
};

// An open-file dialog that "chooses" what the script says (empty: cancel) and remembers
// the settings it was shown with.
class ScriptedFileDialog : public editing::OpenFileDialog {
public:
    struct Shown {
        QString initDir, filter, title;
        int flags;
    };

    void ShowOpen() override {
        shown.push_back({InitDir, Filter, DialogTitle, Flags});
        FileName = choices.empty() ? QString() : choices.front();
        if (!choices.empty())
            choices.pop_front();
    }

    std::vector<Shown> shown;
    std::deque<QString> choices;
};

struct ScriptedDialogs {
    ScriptedMessageBoxes messages;
    ScriptedInputBoxes input;
    ScriptedFileDialog files;
    editing::Dialogs dialogs() { return {messages, input, files}; }
};

} // namespace melofon::test
