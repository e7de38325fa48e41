// The one table of every option Orvane keeps: key, kind and default, declared once.
// Every reader and writer goes through these declarations; no other place names a key.
#pragma once

namespace orvane {

// Where a text option's default comes from when it is not a fixed text.
enum class TextDefault {
    Fixed,          // the declaration's own text
    DefaultLogFile, // COrvaneApp::DefaultLogFile()
    LoginSound,     // the upper-cased program directory + "/LOGIN.WAV"
    LogoutSound,    // the upper-cased program directory + "/LOGOUT.WAV"
};

struct IntSetting {
    const char* key;
    int defaultValue;
};

struct TextSetting {
    const char* key;
    const char* fixedDefault;
    TextDefault source = TextDefault::Fixed;
};

// The section every option lives in.
inline constexpr const char* kSettingsSection = "Settings";

namespace setting {
inline constexpr IntSetting PortNr{"PortNr", 23};
inline constexpr IntSetting EchoBack{"EchoBack", 1};
inline constexpr IntSetting ReverseDNS{"ReverseDNS", 1};  // on only when exactly 1
inline constexpr IntSetting EnableLog{"EnableLog", 1};
inline constexpr TextSetting LogFile{"LogFile", "", TextDefault::DefaultLogFile};
inline constexpr IntSetting FailedLogins{"FailedLogins", 3};
inline constexpr TextSetting LoginOK{"LoginOK", "Login OK."};
inline constexpr TextSetting LoginFail{"LoginFail", "Login Failed."};
inline constexpr IntSetting StartMinimize{"StartMinimize", 0};
inline constexpr IntSetting ConfirmExit{"ConfirmExit", 1};  // on only when exactly 1
inline constexpr IntSetting RunAsService{"RunAsService", 0};
inline constexpr IntSetting S1Enable{"S1Enable", 1};
inline constexpr IntSetting S2Enable{"S2Enable", 1};
inline constexpr TextSetting S1FileName{"S1FileName", "", TextDefault::LoginSound};
inline constexpr TextSetting S2FileName{"S2FileName", "", TextDefault::LogoutSound};
inline constexpr TextSetting BrowseLogDir{"BrowseLogDir", ""};
inline constexpr TextSetting BrowseSndDir{"BrowseSndDir", ""};
}  // namespace setting

inline constexpr IntSetting kAllIntSettings[] = {
    setting::PortNr,        setting::EchoBack,    setting::ReverseDNS,   setting::EnableLog,
    setting::FailedLogins,  setting::StartMinimize, setting::ConfirmExit, setting::RunAsService,
    setting::S1Enable,      setting::S2Enable,
};

inline constexpr TextSetting kAllTextSettings[] = {
    setting::LogFile,    setting::LoginOK,    setting::LoginFail,    setting::S1FileName,
    setting::S2FileName, setting::BrowseLogDir, setting::BrowseSndDir,
};

}  // namespace orvane
