// Where the tests wait for a shell: its prompt ends what has come, "# " for the superuser
// the tests may run as, "$ " for anybody else.
#pragma once

#include <QByteArray>

namespace orvane::test {

inline bool EndsWithShellPrompt(const QByteArray& received) {
    return received.endsWith("# ") || received.endsWith("$ ");
}

}  // namespace orvane::test
