#pragma once

#include "app/dialogs.h"

#include <QString>

#include <deque>
#include <vector>

namespace melofon::test {

// Message boxes that answer from a script and remember what they were asked.
class ScriptedMessageBoxes : public app::MessageBoxes {
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

} // namespace melofon::test
