// Message boxes for a run without a display: the text goes to standard error and the box
// answers itself.
#pragma once

#include <cstdio>

#include "platform/MessageBox.h"

namespace orvane {

// Nobody can press a button here, so each box takes the answer its window would offer as
// the default: OK for an OK box, Yes for a Yes/No box. Each box is one line:
//   Orvane: <text>               for an OK box
//   Orvane: <text> [Yes/No] Yes  for a Yes/No box, showing the answer taken
class ConsoleMessageBox final : public MessageBoxService {
public:
    explicit ConsoleMessageBox(std::FILE* out = stderr) : m_out(out) {}

    MessageAnswer Show(const QString& text, MessageIcon icon,
                       MessageButtons buttons = MessageButtons::Ok) override;

private:
    std::FILE* m_out;
};

}  // namespace orvane
