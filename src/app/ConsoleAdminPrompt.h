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

// The record the administration account dialog produces for a name and password: all three
// rights, no greeting, both texts cut to 126 characters.
void FillAdminRecord(UserRecord& record, const QByteArray& name, const QByteArray& password);

}  // namespace orvane
