// A plain non-blocking TCP client on 127.0.0.1 for driving the server in tests. Every wait
// pumps the Qt event loop (the server runs on it) and is bounded in time.
#pragma once

#include <QByteArray>
#include <functional>

namespace orvane::test {

// Pumps the event loop until the condition holds or the time is up; true if it held.
bool PumpUntil(const std::function<bool()>& condition, int timeoutMs = 5000, int fd = -1);
// Pumps the event loop for a while (to show that something does NOT happen).
void PumpFor(int ms, int fd = -1);

// A TCP socket to 127.0.0.1:port with TCP_NODELAY (and, when receiveBuffer > 0, a smaller
// receive buffer set before connecting). A blocking one is connected on return; a
// non-blocking one may still be connecting. -1 when it failed.
int OpenLoopbackConnection(int port, int receiveBuffer, bool nonBlocking);

class LoopbackClient final {
public:
    LoopbackClient() = default;
    ~LoopbackClient();
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    // receiveBuffer > 0 shrinks the socket's receive buffer before connecting.
    bool Connect(int port, int receiveBuffer = 0);
    // From a chosen loopback source (127.0.0.2, ...; nullptr for any) to a loopback
    // target of either family ("127.0.0.1", "::1").
    bool ConnectFrom(const char* source, const char* target, int port);
    // Sends every byte (pumping while the kernel is full); false on error or timeout.
    bool Send(const QByteArray& bytes);
    // Sends one byte per packet, letting the server handle each before the next.
    bool SendBytewise(const QByteArray& bytes);
    // Tries once to send; the count taken (0 when the kernel is full), -1 on error.
    long TrySend(const QByteArray& bytes);

    // Reads until the received text (since the last Take) contains `text`.
    bool WaitFor(const QByteArray& text, int timeoutMs = 5000);
    // Reads until at least `count` bytes have arrived since the last Take.
    bool WaitForBytes(int count, int timeoutMs = 5000);
    // Reads until the server ends the stream (or resets it).
    bool WaitForEnd(int timeoutMs = 5000);
    // Reads what is there now.
    void ReadAvailable();

    // What arrived since the last Take, and forget it.
    QByteArray Take();
    const QByteArray& Received() const { return m_received; }
    bool EndSeen() const { return m_ended; }

    void ShutdownSend();
    // Closes at once; with reset the kernel sends RST instead of FIN.
    void Close(bool reset = false);
    int Descriptor() const { return m_fd; }

private:
    int m_fd = -1;
    QByteArray m_received;
    bool m_ended = false;
};

}  // namespace orvane::test
