// The Telnet protocol layer of one session: the client's bytes in, data and events out, and
// the negotiation replies to send. It does no I/O of its own, so recorded transcripts test it.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <array>
#include <cstdint>

namespace orvane {

namespace telnet {
// Command bytes; each follows an IAC.
inline constexpr unsigned char SE = 240;
inline constexpr unsigned char NOP = 241;
inline constexpr unsigned char DM = 242;
inline constexpr unsigned char BRK = 243;
inline constexpr unsigned char IP = 244;
inline constexpr unsigned char AO = 245;
inline constexpr unsigned char AYT = 246;
inline constexpr unsigned char EC = 247;
inline constexpr unsigned char EL = 248;
inline constexpr unsigned char GA = 249;
inline constexpr unsigned char SB = 250;
inline constexpr unsigned char WILL = 251;
inline constexpr unsigned char WONT = 252;
inline constexpr unsigned char DO = 253;
inline constexpr unsigned char DONT = 254;
inline constexpr unsigned char IAC = 255;

// The options the server has a use for.
inline constexpr unsigned char OptEcho = 1;
inline constexpr unsigned char OptSuppressGoAhead = 3;
inline constexpr unsigned char OptTimingMark = 6;
inline constexpr unsigned char OptTerminalType = 24;
inline constexpr unsigned char OptWindowSize = 31;

// Sub-negotiation verbs of the terminal type option.
inline constexpr unsigned char TerminalTypeIs = 0;
inline constexpr unsigned char TerminalTypeSend = 1;
}  // namespace telnet

// One thing the client's bytes meant, in the order they came.
struct TelnetEvent {
    enum class Kind {
        Data,              // bytes of the user's input (IAC IAC already made one 0xFF)
        InterruptProcess,  // IAC IP
        AreYouThere,       // IAC AYT
        EraseCharacter,    // IAC EC
        EraseLine,         // IAC EL
        TimingMark,        // IAC DO TIMING-MARK: its reply is among the replies from now on
        WindowSize,        // a new window size (NAWS)
        TerminalType,      // the client named its terminal type
        OptionChanged,     // an option was switched on or off, on the server's side or the client's
    };
    Kind kind = Kind::Data;
    QByteArrayView data;  // Data: valid until the next call of Feed or Next
    int columns = 0;      // WindowSize
    int rows = 0;
    int option = 0;  // OptionChanged
    bool local =
        false;  // OptionChanged: the server's own side (WILL/WONT) rather than the client's
    bool enabled = false;  // OptionChanged
};

// Which options the server takes up; read at connect.
struct TelnetPolicy {
    bool terminalMode = false;
    bool echo = false;  // offer to echo (terminal mode only)
};

class TelnetProtocol final {
public:
    static constexpr int kMaxSubnegotiation = 512;
    static constexpr int kMaxTerminalTypeLength = 40;
    static constexpr int kDefaultColumns = 80;
    static constexpr int kDefaultRows = 24;

    TelnetProtocol() = default;
    explicit TelnetProtocol(TelnetPolicy policy) : m_policy(policy) {}

    // In terminal mode: the server's own offers and requests at connect (to the replies).
    void StartNegotiation();

    // Hands over the next received bytes; they are copied. Take every event with Next before
    // the next Feed.
    void Feed(QByteArrayView bytes);
    // The next event of what was fed, false when everything fed is used up. Negotiation
    // replies collect meanwhile: send TakeReplies() after handling each event, so that a
    // timing mark is answered only after everything before it.
    bool Next(TelnetEvent& event);

    bool HasReplies() const { return !m_replies.isEmpty(); }
    QByteArray TakeReplies();

    // Once the client has sent any Telnet command, a 0xFF in the server's output must go out
    // as IAC IAC.
    bool ClientSpeaksTelnet() const { return m_bClientSpeaksTelnet; }
    // The data with every 0xFF doubled, appended to `out`.
    static void AppendQuoted(QByteArray& out, QByteArrayView data);

    bool IsEnabled(unsigned char option, bool local) const;
    // The client's terminal type, lower case, or empty when it named none that can be used.
    const QByteArray& TerminalType() const { return m_terminalType; }
    int Columns() const { return m_nColumns; }
    int Rows() const { return m_nRows; }

private:
    // The state of one side of one option (the Q method of RFC 1143).
    enum class Q : std::uint8_t { No, Yes, WantNo, WantYes };
    struct Side {
        Q state = Q::No;
        bool opposite = false;  // the opposite request is queued behind the one in flight
    };
    enum class Parse : std::uint8_t { Data, Iac, Verb, SubOption, SubData, SubIac };

    bool Accepts(unsigned char option, bool local) const;
    void Request(unsigned char option, bool local, bool enable);
    bool Negotiate(unsigned char verb, unsigned char option, TelnetEvent& event);
    bool EndSubnegotiation(TelnetEvent& event);
    bool Command(unsigned char command, TelnetEvent& event);
    void Reply(unsigned char verb, unsigned char option);
    Side& SideOf(unsigned char option, bool local) {
        return local ? m_local[option] : m_remote[option];
    }
    static bool OptionChanged(TelnetEvent& event, unsigned char option, bool local, bool enabled);

    TelnetPolicy m_policy;
    std::array<Side, 256> m_local{};   // what the server does (WILL/WONT sent, DO/DONT received)
    std::array<Side, 256> m_remote{};  // what the client does (DO/DONT sent, WILL/WONT received)

    QByteArray m_input;  // fed bytes not used up yet, from m_nPos on
    qsizetype m_nPos = 0;
    Parse m_parse = Parse::Data;
    unsigned char m_verb = 0;
    unsigned char m_subOption = 0;
    QByteArray m_sub;  // at most kMaxSubnegotiation bytes; the rest up to SE is dropped

    QByteArray m_replies;
    bool m_bClientSpeaksTelnet = false;
    QByteArray m_terminalType;
    int m_nColumns = kDefaultColumns;
    int m_nRows = kDefaultRows;
};

}  // namespace orvane
