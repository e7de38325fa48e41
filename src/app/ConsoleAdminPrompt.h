// The first-run administration account, asked for on the terminal in console mode.
#pragma once

#include <cstdio>

#include "users/UserDatabase.h"

namespace orvane {

// Asks only for the password (the name is "Administrator"), without echo. When the input
// is not a terminal nobody can answer, so the prompt counts as cancelled.
class ConsoleAdminPrompt final : public AdminAccountPrompt {
public:
    ConsoleAdminPrompt(int inputFd = 0, std::FILE* output = stderr);
    bool AskForAdminAccount(UserRecord& record) override;

private:
    int m_inputFd;
    std::FILE* m_output;
};

}  // namespace orvane
