// One Telnet client: the connection, the line input with echo and masking, the login and
// the command shell, and the session's side of a `dos` bridge.
#pragma once

#include <QByteArray>
#include <memory>

#include "platform/AsyncSocket.h"
#include "telnet/BridgeEndpoint.h"

namespace orvane {

class DosBridge;
class TelnetService;

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
    static constexpr long kDefaultOutputLimit = 1024 * 1024;

    // Takes over the connected descriptor; the session is registered in `slot`.
    CSessionSocket(TelnetService& service, int fd, int slot);
    ~CSessionSocket() override;
    CSessionSocket(const CSessionSocket&) = delete;
    CSessionSocket& operator=(const CSessionSocket&) = delete;

    // The send primitives: 1 done (or dropped because the session is closing), 0 failed.
    int SendText(const char* text);
    int SendBuffer(const char* data, int length) override;
    int SendMasked(const char* data, int length);
    int SendPrompt();
    int SendGreeting();

    void OnReceive(int errorCode) override;
    void OnClose(int errorCode) override;
    void OnSendReady() override;
    static void StripLineFeeds(char* data, int* length);

    void OnUserName(const char* line);
    void OnPassword(const char* line);
    void ExecuteCommand(const char* line);
    void SendHelp();
    void RequestShutdownPrivilege();

    bool OutputBufferFull() const override;
    void BridgeEnded() override;

    // The registry retires the session: no more notifications, no more output, the
    // connection closed. The object itself lives on until no operation of it is running.
    void Retire();
    bool IsRetired() const { return m_bRetired; }
    bool IsBusy() const { return m_nBusy > 0; }
    bool IsSuspendedInSend() const { return m_nSuspended > 0; }
    void SetOutputLimit(long bytes) { m_nOutputLimit = bytes; }

    int m_bCanDos = 0;
    int m_bCanShutdown = 0;
    int m_bIsNT = 1;  // a Linux host counts as the NT family
    int m_nFailedLogins = 0;
    int m_bClosing = 0;
    int m_nSlot = -1;
    int m_nLineLen = 0;
    int m_nState = STATE_USERNAME;
    char m_szPeerName[300] = {};
    char m_szPeerAddr[100] = {};
    char m_szUser[100] = {};
    char m_szPassword[100] = {};
    char m_szLine[kLineBufferSize] = {};

private:
    // Marks the session busy for the length of one of its operations, so that the registry
    // cannot destroy it while that operation is suspended lower on the stack.
    class BusyGuard final {
    public:
        explicit BusyGuard(CSessionSocket& session);
        ~BusyGuard();
        BusyGuard(const BusyGuard&) = delete;
        BusyGuard& operator=(const BusyGuard&) = delete;

    private:
        CSessionSocket& m_session;
    };

    int SendBytes(const char* data, int length);
    void WaitForOutputRoom();
    void FlushOutput();
    long PendingOutput() const { return static_cast<long>(m_output.size()) - m_nOutputPos; }
    void ShutdownSendSide();
    void ReceiveRaw();
    void ReceiveLine();
    void HandleCompletedLine();
    void ShutdownCommand(bool reboot);
    void StartDos();
    void ReportPrivilegeFailure(bool ok, unsigned long code, const QByteArray& message,
                                const char* withText, const char* codeOnly);

    TelnetService& m_service;
    std::unique_ptr<AsyncConnection> m_socket;
    std::unique_ptr<DosBridge> m_pBridge;

    // Output the kernel has not taken yet, from m_nOutputPos on; bounded by m_nOutputLimit.
    QByteArray m_output;
    long m_nOutputPos = 0;
    long m_nOutputLimit = kDefaultOutputLimit;

    int m_nBusy = 0;
    int m_nSuspended = 0;
    bool m_bRetired = false;
    bool m_bSendFailed = false;  // the connection refused bytes: sends report failure
    bool m_bSendShut = false;    // the send side is shut (or will be once drained)
    bool m_bShutdownPending = false;
};

}  // namespace orvane
