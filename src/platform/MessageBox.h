// Modal message boxes for the operator, behind an interface so that tests can answer them.
#pragma once

#include <QString>

namespace orvane {

enum class MessageIcon { None, Stop, Question, Information };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    // Shows the text modally with the caption "Orvane" and returns the button pressed.
    virtual MessageAnswer Show(const QString& text, MessageIcon icon,
                               MessageButtons buttons = MessageButtons::Ok) = 0;
};

}  // namespace orvane
