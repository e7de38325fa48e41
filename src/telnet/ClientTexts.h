// Every text a Telnet client receives, byte for byte as clients have always seen them.
#pragma once

#include "Version.h"

namespace orvane::text {

// The version in the greeting is the program's own.
inline constexpr const char* kVersion = kVersionText;

inline constexpr const char* kPleaseWait = "Please Wait...";
inline constexpr const char* kGreetingFormat = "Connection Accepted (Orvane %s)\r\n";
inline constexpr const char* kLineEnd = "\r\n";
inline constexpr const char* kUsernamePrompt = "Username : ";
inline constexpr const char* kPasswordPrompt = "Password : ";
inline constexpr const char* kPrompt = "\r\n> ";
// The answer to a client's are-you-there.
inline constexpr const char* kAreYouThere = "\r\n[Yes]\r\n";

inline constexpr const char* kLoginTextLead = "\r\n\r\n";
inline constexpr const char* kLoginFailLead = "\r\n\r\n";
inline constexpr const char* kLoginFailTail = "\r\n\r\n";

inline constexpr const char* kHelpLines[] = {
    "\r\nshutdown         Shut down and stay off\r\n",
    "reboot           Shut down and reboot\r\n",
    "dos              Command line prompt\r\n",
    "exit             Log out\r\n",
};

inline constexpr const char* kUnknownCommand = "\r\nUnknown command\r\n";
inline constexpr const char* kNoPrivileges = "Error : No priveleges for that operation\r\n";
inline constexpr const char* kGoodbye = "\r\nGoodbye!\r\n";
inline constexpr const char* kShuttingDown = "\r\nShutting down...\r\n";
inline constexpr const char* kShutdownFailed =
    "Shutdown failed! If your host system is Windows NT,\r\nthis process does not have "
    "priveleges to shut down the system.\r\n";
inline constexpr const char* kRequestingPrivileges = "\r\nRequesting shutdown priveleges...\r\n";

// A login that took too long, and a logged-in client silent for too long.
inline constexpr const char* kLoginTimedOut = "\r\nLogin timed out.\r\n";
inline constexpr const char* kIdleTimeout = "\r\nIdle timeout.\r\n";

// Each privilege step's failure: with the system's text for the code, and without.
struct FailureTexts {
    const char* withText;
    const char* codeOnly;
};
inline constexpr FailureTexts kOpenTokenFailed{"OpenProcessToken Failed : %lu (%s)\r\n",
                                               "OpenProcessToken Failed : %lu\r\n"};
inline constexpr FailureTexts kLookupFailed{"LookupPrivilegeValue Failed : %lu (%s)\r\n",
                                            "LookupPrivilegeValue Failed : %lu\r\n"};
inline constexpr FailureTexts kAdjustFailed{"AdjustTokenPriveleges Failed : %lu (%s)\r\n",
                                            "AdjustTokenPriveleges Failed : %lu\r\n"};

// How a `dos` bridge ends.
inline constexpr const char* kCreatePipeFailed = "\r\nCreatePipe failed\r\n";
inline constexpr const char* kCreateProcessFailed = "\r\nCreateProcess failed\r\n";
inline constexpr const char* kAbortLoop = "AbortLoop Trigger\r\n";
inline constexpr const char* kThreadTerminated = "\r\nThread terminated abnormally.\r\n";
inline constexpr const char* kNormalExit = "\r\nNormal exit from command line.\r\n";
inline constexpr const char* kPeekBreak = "\r\nPeekNamedPipe break.\r\n";
inline constexpr const char* kReadBreak = "\r\nReadFile break\r\n";
inline constexpr const char* kReadLengthZero = "\r\nRead length is 0\r\n";
inline constexpr const char* kSendChunkFailed = "\r\nSendChunk failed.\r\n";

// The command words, compared without regard to case.
inline constexpr const char* kCommandHelp = "help";
inline constexpr const char* kCommandReboot = "reboot";
inline constexpr const char* kCommandShutdown = "shutdown";
inline constexpr const char* kCommandDos = "dos";
inline constexpr const char* kCommandExit = "exit";

// Activity entries of the service.
inline constexpr const char* kLoggingIn = "Logging in...";
inline constexpr const char* kLoggedInAs = "Logged in as \"%s\"";
inline constexpr const char* kLoginAsFailed = "Login as \"%s\" failed";
inline constexpr const char* kConnectionTerminated = "Connection terminated";
inline constexpr const char* kLoginTimedOutEntry = "Login timed out";
// Connections closed at once, without a byte to the client.
inline constexpr const char* kRefusedServerFull = "Refused: server full";
inline constexpr const char* kRefusedLoginPenalty = "Refused: login penalty";
inline constexpr const char* kRefusedTooManyLogins = "Refused: too many logins in progress";
// The encrypted port: its certificate at each start (who: "TLS port <n>"), and a handshake
// that failed (what the client sent was not TLS, or it stopped half-way).
inline constexpr const char* kTlsPortFormat = "TLS port %d";
inline constexpr const char* kTlsFingerprintFormat = "SHA-256 fingerprint %s";
inline constexpr const char* kTlsHandshakeFailedFormat = "TLS handshake failed (%s)";

}  // namespace orvane::text
