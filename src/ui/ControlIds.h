// The object names of the window's and the sheet's controls, named once: the pages set them
// and the tests find the controls by them. The numbers are the controls' historic ids, so a
// page may reuse a number another page uses.
#pragma once

namespace orvane::control {

// Any dialog's buttons.
inline constexpr const char* kOk = "1";
inline constexpr const char* kCancel = "2";

namespace main {
inline constexpr const char* kActivityList = "1001";
inline constexpr const char* kEnableSwitch = "1003";
inline constexpr const char* kConnectionText = "1004";
inline constexpr const char* kConfigure = "1005";
}  // namespace main

namespace about {
inline constexpr const char* kVersion = "1025";
}  // namespace about

namespace server {
inline constexpr const char* kBrowseLog = "1005";
inline constexpr const char* kReverseDns = "1022";
inline constexpr const char* kEnableLog = "1023";
inline constexpr const char* kLogFile = "1024";
inline constexpr const char* kFailedLogins = "1025";
inline constexpr const char* kEchoBack = "1026";
inline constexpr const char* kCustomPort = "1029";
inline constexpr const char* kPort = "1030";
inline constexpr const char* kListenAddress = "1040";
inline constexpr const char* kLoginTimeout = "1041";
inline constexpr const char* kIdleTimeout = "1042";
inline constexpr const char* kPenaltyEnable = "1043";
inline constexpr const char* kLogMaxSize = "1044";
inline constexpr const char* kTerminalMode = "1045";
inline constexpr const char* kTlsEnable = "1050";
inline constexpr const char* kTlsPort = "1051";
inline constexpr const char* kTlsOnly = "1052";
inline constexpr const char* kTlsCertFile = "1053";
inline constexpr const char* kTlsKeyFile = "1054";
inline constexpr const char* kTlsFingerprint = "1055";
}  // namespace server

namespace general {
inline constexpr const char* kRunAtStart = "1020";
inline constexpr const char* kStartMinimized = "1021";
inline constexpr const char* kRunAsService = "1022";
inline constexpr const char* kConfirmExit = "1038";
}  // namespace general

namespace sounds {
inline constexpr const char* kLoginTest = "1006";
inline constexpr const char* kLogoutTest = "1007";
inline constexpr const char* kLoginFile = "1024";
inline constexpr const char* kLogoutFile = "1025";
inline constexpr const char* kLoginBrowse = "1027";
inline constexpr const char* kLoginEnable = "1028";
inline constexpr const char* kLogoutEnable = "1029";
inline constexpr const char* kLogoutBrowse = "1030";
}  // namespace sounds

namespace messages {
inline constexpr const char* kLoginOk = "1036";
inline constexpr const char* kLoginFail = "1037";
}  // namespace messages

namespace users {
inline constexpr const char* kDelete = "1007";
inline constexpr const char* kList = "1009";
inline constexpr const char* kEdit = "1010";
inline constexpr const char* kNew = "1011";
}  // namespace users

// The user dialog and the first-run administration account dialog.
namespace user {
inline constexpr const char* kName = "1006";
inline constexpr const char* kPassword = "1007";
inline constexpr const char* kCanUseDos = "1031";
inline constexpr const char* kCanShutdown = "1032";
inline constexpr const char* kCustomGreeting = "1033";
inline constexpr const char* kGreeting = "1034";
inline constexpr const char* kCanLogin = "1035";
inline constexpr const char* kPasswordRefusal = "1051";
}  // namespace user

}  // namespace orvane::control
