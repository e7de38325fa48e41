// The `dos` bridge's interrupt and window size, on pipes against a real /bin/sh and a fake
// session: what a client's Ctrl-C and a resized window do to the running command.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <memory>

#include "FakeBridgeEndpoint.h"
#include "platform/ChildReaper.h"
#include "platform/InterpreterProcess.h"
#include "telnet/DosBridge.h"

namespace orvane {
namespace {

using test::FakeBridgeEndpoint;
using test::PumpUntil;

class DosInterruptTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_TRUE(PumpUntil([] { return ChildReaper::Instance().PendingCount() == 0; }));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    static void Type(DosBridge& bridge, const QByteArray& text) {
        bridge.WriteToInterpreter(text.constData(), static_cast<int>(text.size()));
    }

    static bool WaitForText(FakeBridgeEndpoint& endpoint, const QByteArray& text,
                            int timeoutMs = 15000) {
        return PumpUntil([&] { return endpoint.received.contains(text); }, timeoutMs);
    }

    PosixInterpreterLauncher m_launcher;
};

TEST_F(DosInterruptTest, InterruptEndsTheRunningCommandOverPipesAndTheShellGoesOn) {
    FakeBridgeEndpoint endpoint;
    DosBridge bridge(endpoint, m_launcher);
    bridge.Start();
    ASSERT_TRUE(bridge.IsRunning());
    EXPECT_FALSE(bridge.IsTerminal());

    Type(bridge, "echo \"start=$((1+1)).\"; sleep 100\r\n");
    ASSERT_TRUE(WaitForText(endpoint, "start=2."));
    bridge.SetWindowSize(100, 40);  // pipes have no window: nothing happens
    bridge.Interrupt();
    Type(bridge, "echo \"after=$((40+2)).\"\r\n");
    EXPECT_TRUE(WaitForText(endpoint, "after=42.", 30000)) << endpoint.received.constData();
    EXPECT_TRUE(bridge.IsRunning());
    EXPECT_EQ(endpoint.endedCount, 0);

    Type(bridge, "exit\r\n");
    ASSERT_TRUE(PumpUntil([&] { return endpoint.endedCount > 0; }, 15000));
    bridge.Interrupt();  // after the end: nothing to interrupt, nothing hit
}

}  // namespace
}  // namespace orvane
