// A message box that records what it was asked to show and answers from a script.
#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <vector>

#include "platform/MessageBox.h"

namespace orvane::test {

struct ShownMessage {
    QString text;
    MessageIcon icon;
    MessageButtons buttons;
};

class FakeMessageBox final : public MessageBoxService {
public:
    MessageAnswer Show(const QString& text, MessageIcon icon, MessageButtons buttons) override {
        shown.push_back({text, icon, buttons});
        if (onShow) onShow(shown.back());
        if (!answers.empty()) {
            const MessageAnswer answer = answers.front();
            answers.pop_front();
            return answer;
        }
        return buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    }

    std::vector<ShownMessage> shown;
    std::deque<MessageAnswer> answers;  // answered in order; Yes / Ok when empty
    std::function<void(const ShownMessage&)> onShow;
};

}  // namespace orvane::test
