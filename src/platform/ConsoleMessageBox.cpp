// Writes a message box to the console and takes its default answer.
#include "platform/ConsoleMessageBox.h"

#include <QByteArray>

namespace orvane {

MessageAnswer ConsoleMessageBox::Show(const QString& text, MessageIcon /*icon*/,
                                      MessageButtons buttons) {
    const bool question = buttons == MessageButtons::YesNo;
    QByteArray line = "Orvane: " + text.toLocal8Bit();
    if (question) line += " [Yes/No] Yes";
    line += '\n';
    if (m_out) {
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), m_out);
        std::fflush(m_out);
    }
    return question ? MessageAnswer::Yes : MessageAnswer::Ok;
}

}  // namespace orvane
