// The Telnet protocol layer: command parsing, loop-free option negotiation and the few
// sub-negotiations the server uses (terminal type, window size).
#include "telnet/TelnetProtocol.h"

#include <cstring>

namespace orvane {

using namespace telnet;

namespace {
bool IsTerminalTypeByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '+' || c == '.' || c == '_';
}
}  // namespace

void TelnetProtocol::StartNegotiation() {
    if (!m_policy.terminalMode) return;
    // Echo and no go-ahead from the server put a client in character mode without local echo.
    if (m_policy.echo) Request(OptEcho, true, true);
    Request(OptSuppressGoAhead, true, true);
    Request(OptWindowSize, false, true);
    Request(OptTerminalType, false, true);
}

bool TelnetProtocol::Accepts(unsigned char option, bool local) const {
    if (!m_policy.terminalMode) return false;
    if (local) return option == OptSuppressGoAhead || (option == OptEcho && m_policy.echo);
    return option == OptWindowSize || option == OptTerminalType || option == OptSuppressGoAhead;
}

bool TelnetProtocol::IsEnabled(unsigned char option, bool local) const {
    return (local ? m_local[option] : m_remote[option]).state == Q::Yes;
}

void TelnetProtocol::Reply(unsigned char verb, unsigned char option) {
    const char bytes[] = {char(IAC), char(verb), char(option)};
    m_replies.append(bytes, 3);
}

void TelnetProtocol::Request(unsigned char option, bool local, bool enable) {
    Side& side = SideOf(option, local);
    const unsigned char verb = enable ? (local ? WILL : DO) : (local ? WONT : DONT);
    switch (side.state) {
        case Q::No:
            if (enable) {
                side.state = Q::WantYes;
                Reply(verb, option);
            }
            break;
        case Q::Yes:
            if (!enable) {
                side.state = Q::WantNo;
                Reply(verb, option);
            }
            break;
        // A request against one in flight is queued once, or cancels the queued one.
        case Q::WantNo:
            side.opposite = enable;
            break;
        case Q::WantYes:
            side.opposite = !enable;
            break;
    }
}

bool TelnetProtocol::OptionChanged(TelnetEvent& event, unsigned char option, bool local,
                                   bool enabled) {
    event = TelnetEvent{};
    event.kind = TelnetEvent::Kind::OptionChanged;
    event.option = option;
    event.local = local;
    event.enabled = enabled;
    return true;
}

bool TelnetProtocol::Negotiate(unsigned char verb, unsigned char option, TelnetEvent& event) {
    // Timing mark is no state: every DO is answered, once what came before it is handled.
    if (verb == DO && option == OptTimingMark) {
        Reply(WILL, OptTimingMark);
        event = TelnetEvent{};
        event.kind = TelnetEvent::Kind::TimingMark;
        return true;
    }
    if (verb == DONT && option == OptTimingMark) return false;

    const bool local = verb == DO || verb == DONT;
    const bool wantsOn = verb == WILL || verb == DO;
    const unsigned char agree = local ? WILL : DO;
    const unsigned char refuse = local ? WONT : DONT;
    Side& side = SideOf(option, local);
    const Q before = side.state;
    // The Q method: each state answers at most once, so two parties can never loop.
    if (wantsOn) {
        switch (side.state) {
            case Q::No:
                if (Accepts(option, local)) {
                    side.state = Q::Yes;
                    Reply(agree, option);
                } else {
                    Reply(refuse, option);
                }
                break;
            case Q::Yes:
                break;
            case Q::WantNo:
                side.state = side.opposite ? Q::Yes : Q::No;
                side.opposite = false;
                break;
            case Q::WantYes:
                if (side.opposite) {
                    side.state = Q::WantNo;
                    side.opposite = false;
                    Reply(refuse, option);
                } else {
                    side.state = Q::Yes;
                }
                break;
        }
    } else {
        switch (side.state) {
            case Q::No:
                break;
            case Q::Yes:
                side.state = Q::No;
                Reply(refuse, option);
                break;
            case Q::WantNo:
                if (side.opposite) {
                    side.state = Q::WantYes;
                    side.opposite = false;
                    Reply(agree, option);
                } else {
                    side.state = Q::No;
                }
                break;
            case Q::WantYes:
                side.state = Q::No;
                side.opposite = false;
                break;
        }
    }
    if (side.state == Q::Yes && before != Q::Yes) {
        if (!local && option == OptTerminalType) {
            const char send[] = {char(IAC), char(SB), char(OptTerminalType), char(TerminalTypeSend),
                                 char(IAC), char(SE)};
            m_replies.append(send, sizeof send);
        }
        return OptionChanged(event, option, local, true);
    }
    if (side.state == Q::No && (before == Q::Yes || before == Q::WantNo)) {
        return OptionChanged(event, option, local, false);
    }
    return false;
}

bool TelnetProtocol::EndSubnegotiation(TelnetEvent& event) {
    // Only an option the client has switched on may carry parameters.
    if (!IsEnabled(m_subOption, false)) return false;
    if (m_subOption == OptTerminalType) {
        if (m_sub.isEmpty() || m_sub[0] != char(TerminalTypeIs)) return false;
        const QByteArray name = m_sub.mid(1);
        if (name.isEmpty() || name.size() > kMaxTerminalTypeLength) return false;
        for (char c : name) {
            if (!IsTerminalTypeByte(c)) return false;
        }
        // Terminal type names are case-insensitive; the terminal database knows them in
        // lower case, and some clients send upper case.
        m_terminalType = name.toLower();
        event = TelnetEvent{};
        event.kind = TelnetEvent::Kind::TerminalType;
        event.data = m_terminalType;
        return true;
    }
    if (m_subOption == OptWindowSize) {
        if (m_sub.size() != 4) return false;
        const auto byte = [this](int i) { return static_cast<unsigned char>(m_sub[i]); };
        const int columns = byte(0) << 8 | byte(1);
        const int rows = byte(2) << 8 | byte(3);
        // Zero means the client does not know that dimension: the last one stays.
        if (columns > 0) m_nColumns = columns;
        if (rows > 0) m_nRows = rows;
        event = TelnetEvent{};
        event.kind = TelnetEvent::Kind::WindowSize;
        event.columns = m_nColumns;
        event.rows = m_nRows;
        return true;
    }
    return false;
}

bool TelnetProtocol::Command(unsigned char command, TelnetEvent& event) {
    TelnetEvent::Kind kind;
    switch (command) {
        case IP:
            kind = TelnetEvent::Kind::InterruptProcess;
            break;
        case AYT:
            kind = TelnetEvent::Kind::AreYouThere;
            break;
        case EC:
            kind = TelnetEvent::Kind::EraseCharacter;
            break;
        case EL:
            kind = TelnetEvent::Kind::EraseLine;
            break;
        default:
            return false;  // NOP, DM, BRK, AO, GA, a stray SE and unknown commands
    }
    event = TelnetEvent{};
    event.kind = kind;
    return true;
}

void TelnetProtocol::Feed(QByteArrayView bytes) {
    if (m_nPos >= m_input.size()) {
        m_input.resize(0);  // keeps the allocation for the next chunk
    } else {
        m_input.remove(0, m_nPos);
    }
    m_nPos = 0;
    m_input.append(bytes.data(), bytes.size());
}

bool TelnetProtocol::Next(TelnetEvent& event) {
    const char* input = m_input.constData();
    const qsizetype size = m_input.size();
    while (m_nPos < size) {
        const auto byte = static_cast<unsigned char>(input[m_nPos]);
        switch (m_parse) {
            case Parse::Data: {
                if (byte == IAC) {
                    ++m_nPos;
                    m_parse = Parse::Iac;
                    m_bClientSpeaksTelnet = true;
                    break;
                }
                const void* iac = std::memchr(input + m_nPos, IAC, size_t(size - m_nPos));
                const qsizetype end = iac ? static_cast<const char*>(iac) - input : size;
                event = TelnetEvent{};
                event.data = QByteArrayView(input + m_nPos, end - m_nPos);
                m_nPos = end;
                return true;
            }
            case Parse::Iac:
                ++m_nPos;
                m_parse = Parse::Data;
                if (byte == IAC) {
                    event = TelnetEvent{};
                    event.data = QByteArrayView(input + m_nPos - 1, 1);
                    return true;
                }
                if (byte >= WILL && byte <= DONT) {
                    m_verb = byte;
                    m_parse = Parse::Verb;
                } else if (byte == SB) {
                    m_parse = Parse::SubOption;
                } else if (Command(byte, event)) {
                    return true;
                }
                break;
            case Parse::Verb:
                ++m_nPos;
                m_parse = Parse::Data;
                if (Negotiate(m_verb, byte, event)) return true;
                break;
            case Parse::SubOption:
                ++m_nPos;
                m_subOption = byte;
                m_sub.resize(0);
                m_parse = Parse::SubData;
                break;
            case Parse::SubData:
                ++m_nPos;
                if (byte == IAC) {
                    m_parse = Parse::SubIac;
                } else if (m_sub.size() < kMaxSubnegotiation) {
                    m_sub.append(char(byte));
                }
                break;
            case Parse::SubIac:
                if (byte == SE) {
                    ++m_nPos;
                    m_parse = Parse::Data;
                    if (EndSubnegotiation(event)) return true;
                } else if (byte == IAC) {
                    ++m_nPos;
                    if (m_sub.size() < kMaxSubnegotiation) m_sub.append(char(IAC));
                    m_parse = Parse::SubData;
                } else {
                    // A command inside a sub-negotiation ends it unfinished; the command
                    // itself still counts, so a lost SE cannot swallow the rest of the input.
                    m_sub.resize(0);
                    m_parse = Parse::Iac;
                }
                break;
        }
    }
    return false;
}

QByteArray TelnetProtocol::TakeReplies() {
    QByteArray replies;
    replies.swap(m_replies);
    return replies;
}

void TelnetProtocol::AppendQuoted(QByteArray& out, QByteArrayView data) {
    qsizetype start = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (static_cast<unsigned char>(data[i]) != IAC) continue;
        out.append(data.data() + start, i + 1 - start);
        out.append(char(IAC));
        start = i + 1;
    }
    out.append(data.data() + start, data.size() - start);
}

}  // namespace orvane
