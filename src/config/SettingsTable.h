// The one table of every option Orvane keeps: key, kind and default, declared once.
// Every reader and writer goes through these declarations; no other place names a key.
#pragma once

namespace orvane {

// The file a path option names when it is absent, derived from the program's path
// (FileLocations computes it).
enum class PathDefault {
    LogFile,      // FileLocations::DefaultLogFile()
    LoginSound,   // the upper-cased program directory + "/LOGIN.WAV"
    LogoutSound,  // the upper-cased program directory + "/LOGOUT.WAV"
};

struct IntSetting {
    const char* key;
    int defaultValue;
};

struct TextSetting {
    const char* key;
    const char* fixedDefault;
};

// A text option whose default is a file next to the program: reading one needs the file
// locations, so no reader can get "" for a forgotten default.
struct PathSetting {
    const char* key;
    PathDefault source;
};

// The section every option lives in.
inline constexpr const char* kSettingsSection = "Settings";

namespace setting {
inline constexpr IntSetting PortNr{"PortNr", 23};
inline constexpr IntSetting EchoBack{"EchoBack", 1};
inline constexpr IntSetting TerminalMode{"TerminalMode", 0};
inline constexpr IntSetting ReverseDNS{"ReverseDNS", 1};  // on only when exactly 1
inline constexpr IntSetting EnableLog{"EnableLog", 1};
inline constexpr PathSetting LogFile{"LogFile", PathDefault::LogFile};
inline constexpr IntSetting FailedLogins{"FailedLogins", 3};
inline constexpr TextSetting LoginOK{"LoginOK", "Login OK."};
inline constexpr TextSetting LoginFail{"LoginFail", "Login Failed."};
inline constexpr IntSetting StartMinimize{"StartMinimize", 0};
inline constexpr IntSetting ConfirmExit{"ConfirmExit", 1};  // on only when exactly 1
inline constexpr IntSetting RunAsService{"RunAsService", 0};
inline constexpr IntSetting S1Enable{"S1Enable", 1};
inline constexpr IntSetting S2Enable{"S2Enable", 1};
inline constexpr PathSetting S1FileName{"S1FileName", PathDefault::LoginSound};
inline constexpr PathSetting S2FileName{"S2FileName", PathDefault::LogoutSound};
inline constexpr TextSetting BrowseLogDir{"BrowseLogDir", ""};
inline constexpr TextSetting BrowseSndDir{"BrowseSndDir", ""};
// Keeping the door: how long a login may take (seconds, 0 = no limit), whether failed logins
// put their address in a penalty, where the server listens ("" = every IPv4 address), how
// long a logged-in client may stay silent (minutes, 0 = no limit), and the size at which the
// log file is moved aside (KB, 0 = no limit).
inline constexpr IntSetting LoginTimeout{"LoginTimeout", 120};
inline constexpr IntSetting PenaltyEnable{"PenaltyEnable", 1};
inline constexpr TextSetting ListenAddress{"ListenAddress", ""};
inline constexpr IntSetting IdleTimeout{"IdleTimeout", 0};
inline constexpr IntSetting LogMaxSize{"LogMaxSize", 10240};
// The encrypted port, read at server start like PortNr. TlsOnly (with TlsEnable) leaves the
// plain port closed. Empty file names mean the generated pair in the private data directory.
inline constexpr IntSetting TlsEnable{"TlsEnable", 0};
inline constexpr IntSetting TlsPortNr{"TlsPortNr", 992};
inline constexpr IntSetting TlsOnly{"TlsOnly", 0};
inline constexpr TextSetting TlsCertFile{"TlsCertFile", ""};
inline constexpr TextSetting TlsKeyFile{"TlsKeyFile", ""};
}  // namespace setting

inline constexpr IntSetting kAllIntSettings[] = {
    setting::PortNr,       setting::EchoBack,      setting::ReverseDNS,   setting::EnableLog,
    setting::FailedLogins, setting::StartMinimize, setting::ConfirmExit,  setting::RunAsService,
    setting::S1Enable,     setting::S2Enable,      setting::LoginTimeout, setting::PenaltyEnable,
    setting::IdleTimeout,  setting::LogMaxSize,    setting::TerminalMode, setting::TlsEnable,
    setting::TlsPortNr,    setting::TlsOnly,
};

inline constexpr TextSetting kAllTextSettings[] = {
    setting::LoginOK,       setting::LoginFail,   setting::BrowseLogDir, setting::BrowseSndDir,
    setting::ListenAddress, setting::TlsCertFile, setting::TlsKeyFile,
};

inline constexpr PathSetting kAllPathSettings[] = {
    setting::LogFile,
    setting::S1FileName,
    setting::S2FileName,
};

}  // namespace orvane
