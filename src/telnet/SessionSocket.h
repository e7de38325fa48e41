// One Telnet client: the connection, the line input with echo and masking, the login and
// the command shell, and the session's side of a `dos` bridge.
#pragma once

#include <QByteArray>
#include <memory>
#include <optional>

#include "platform/AsyncSocket.h"
#include "platform/HostNameLookup.h"
#include "platform/PeerAddress.h"
#include "telnet/AccessGuard.h"
#include "telnet/BridgeEndpoint.h"
#include "telnet/LineAssembler.h"
#include "telnet/OutputBuffer.h"
#include "telnet/SessionTimers.h"
#include "telnet/TelnetProtocol.h"

namespace orvane {

class DosBridge;
class TelnetService;
class TlsServerContext;

class CSessionSocket final : public AsyncSocketHandler, public BridgeEndpoint {
public:
    enum State {
        STATE_USERNAME = 0,
        STATE_PASSWORD = 1,
        STATE_COMMAND = 2,
        STATE_DOS = 3,
        STATE_LOCKED = 4,
    };
    static constexpr int kLineBufferSize = 4096;
    static constexpr int kMaxLineLength = 100;  // a line is complete past this many bytes
    static constexpr long kDefaultOutputLimit = OutputBuffer::kDefaultLimit;
    static constexpr int kFieldSize = 100;  // user name and password, terminator included

    // Takes over the connected descriptor; the session is registered in `slot`. The dotted
    // address and the name shown for the client are known before the session starts; so is
    // the negotiation the server opened the connection with.
    CSessionSocket(TelnetService& service, int fd, int slot, const QByteArray& peerAddr,
                   const QByteArray& peerName, TelnetProtocol protocol = TelnetProtocol());
    ~CSessionSocket() override;
    CSessionSocket(const CSessionSocket&) = delete;
    CSessionSocket& operator=(const CSessionSocket&) = delete;

    // The send primitives never wait: the bytes are queued behind what the client has not
    // taken yet. 1 queued (or dropped because the session is closing), 0 failed.
    int SendText(const char* text);
    int SendBuffer(const char* data, int length) override;
    int SendPrompt();
    int SendGreeting();

    void OnReceive(int errorCode) override;
    void OnClose(int errorCode) override;
    void OnSendReady() override;
    void OnSecured(const QString& description) override;
    void OnHandshakeFailed(const QString& reason) override;

    void OnUserName(const char* line);
    void OnPassword(const char* line);
    void ExecuteCommand(const char* line);
    void SendHelp();
    void RequestShutdownPrivilege();

    bool OutputBufferFull() const override;
    void BridgeEnded() override;

    // The registry retires the session: no more notifications, no more output, the
    // connection closed. The registry destroys it later, from the event loop.
    void Retire();
    void SetOutputLimit(long bytes) { m_output.SetLimit(bytes); }
    // An encrypted session: everything it sends waits for the handshake, and from then on
    // it is an ordinary session.
    void StartTls(const TlsServerContext& context) { m_socket->StartTls(context); }
    bool IsEncrypted() const { return m_socket->IsEncrypted(); }

    const char* PeerName() const { return m_szPeerName; }
    const char* PeerAddress() const { return m_szPeerAddr; }
    int Slot() const { return m_nSlot; }
    int State() const { return m_nState; }
    bool IsClosing() const { return m_bClosing != 0; }
    bool IsRetired() const { return m_bRetired; }
    // The client is not taking its output: its input and its bridge wait until it drains.
    bool IsOutputBlocked() const { return m_bInputPaused; }
    long PendingOutput() const { return m_output.Pending(); }
    int LineLength() const { return static_cast<int>(m_input.Size()); }
    // The client has ended its stream (a script's half-close); its lines were handled.
    bool InputEnded() const { return m_bInputEnded; }
    const char* UserName() const { return m_szUser; }
    const char* Password() const { return m_szPassword; }
    int FailedLogins() const { return m_nFailedLogins; }

    // The client's address, and its place among the logins in progress from there (given
    // back at login or when the session ends).
    void SetPeer(const orvane::PeerAddress& peer, LoginTicket ticket);
    const orvane::PeerAddress& Peer() const { return m_peer; }
    // Until its name is known the session is not greeted and reads nothing of its client.
    void AwaitPeerName(std::unique_ptr<HostNameLookup::Pending> lookup);
    void SetPeerName(const QByteArray& name);
    bool IsGreeted() const { return m_bGreeted; }

private:
    // Where the client's bytes enter the session, through the protocol layer, and where the
    // session's bytes leave for the client (quoted once the client speaks Telnet).
    void ReceiveFromClient(const char* data, int length);
    void ProcessInput();
    void HandleEvent(const TelnetEvent& event);
    void ReceiveData(QByteArrayView data);
    void WriteToBridge(QByteArrayView data);
    void EraseInput(bool wholeLine);
    bool TakesInput() const;
    LineAssembler::Echo EchoMode();
    int SendToClient(const char* data, int length);
    int SendRaw(const char* data, int length);
    void SendReplies();
    int ReceiveRoom() const;
    void EndOfInput();
    void CloseOnceSent();

    void FlushOutput();
    void UpdateFlowControl();
    void ShutdownSendSide();
    bool EchoOn();
    void HandleCompletedLine(const QByteArray& line);
    void ShutdownCommand(bool reboot);
    void StartDos();
    void ReportPrivilegeFailure(bool ok, unsigned long code, const QByteArray& message,
                                const char* withText, const char* codeOnly);

    // The session's deadlines and what happens when they pass.
    void HoldInput(bool hold);
    void AnswerRefusedLogin();
    void Lock();
    void OnLoginTimedOut();
    void OnIdleTimedOut();
    void OnLingerOver();

    TelnetService& m_service;
    std::unique_ptr<AsyncConnection> m_socket;
    std::unique_ptr<DosBridge> m_pBridge;
    OutputBuffer m_output;
    TelnetProtocol m_protocol;
    LineAssembler m_input;
    QByteArray m_quoted;              // output with its 0xFF bytes doubled, reused
    QByteArray m_heldData;            // data after a refused login's line, until its answer
    std::optional<bool> m_chunkEcho;  // EchoBack as read for the chunk in hand
    char m_received[kLineBufferSize] = {};

    int m_bCanDos = 0;
    int m_bCanShutdown = 0;
    int m_bIsNT = 1;  // a Linux host counts as the NT family
    int m_nFailedLogins = 0;
    int m_bClosing = 0;
    int m_nSlot = -1;
    int m_nState = STATE_USERNAME;
    char m_szPeerName[300] = {};
    char m_szPeerAddr[100] = {};
    char m_szUser[kFieldSize] = {};
    char m_szPassword[kFieldSize] = {};

    bool m_bRetired = false;
    bool m_bInputPaused = false;  // the output is above its limit
    bool m_bSendFailed = false;   // the connection refused bytes: sends report failure
    bool m_bSendShut = false;     // the send side is shut (or will be once drained)
    bool m_bShutdownPending = false;

    orvane::PeerAddress m_peer;
    LoginTicket m_loginTicket;
    std::unique_ptr<HostNameLookup::Pending> m_pLookup;
    SessionTimers m_timers;
    bool m_bGreeted = false;
    QByteArray m_tlsDescription;    // protocol and cipher, once an encrypted session is secured
    bool m_bInputHeld = false;      // name lookup or failure delay: input waits in the kernel
    bool m_bInputEnded = false;     // the client's stream ended; the session ends after its output
    bool m_bCloseWhenSent = false;  // ends the session once the output has drained
};

}  // namespace orvane
