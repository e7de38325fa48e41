// The Telnet protocol layer alone: loop-free negotiation, bounded sub-negotiations and
// terminal mode's negotiation, with bytes recorded from real clients.
#include <gtest/gtest.h>

#include <vector>

#include "RecordedClients.h"
#include "telnet/TelnetProtocol.h"

namespace orvane::test {
namespace {

using Kind = TelnetEvent::Kind;

using namespace recorded;

struct Collected {
    QByteArray data;
    std::vector<TelnetEvent> events;  // everything but data; views are not kept
    QByteArray replies;
};

void Drain(TelnetProtocol& protocol, Collected& out) {
    TelnetEvent event;
    while (protocol.Next(event)) {
        if (event.kind == Kind::Data) {
            out.data.append(event.data.data(), event.data.size());
        } else {
            event.data = {};
            out.events.push_back(event);
        }
        out.replies += protocol.TakeReplies();
    }
    out.replies += protocol.TakeReplies();
}

Collected Receive(TelnetProtocol& protocol, const QByteArray& bytes, bool bytewise = false) {
    Collected out;
    if (bytewise) {
        for (char c : bytes) {
            protocol.Feed(QByteArrayView(&c, 1));
            Drain(protocol, out);
        }
    } else {
        protocol.Feed(bytes);
        Drain(protocol, out);
    }
    return out;
}

TEST(TelnetProtocol, NegotiationWithAPeerThatMirrorsEverythingDiesOut) {
    // The peer sends back every byte it gets, as the server used to: two rounds at most
    // in plain mode, three when the server made offers of its own.
    for (bool terminalMode : {false, true}) {
        TelnetProtocol server(TelnetPolicy{terminalMode, true});
        server.StartNegotiation();
        QByteArray wire = server.TakeReplies() + Bytes(kDebianTelnetOpening);
        int rounds = 0;
        while (!wire.isEmpty() && rounds < 50) {
            wire = Receive(server, wire).replies;
            ++rounds;
        }
        EXPECT_TRUE(wire.isEmpty()) << "terminal mode " << terminalMode;
        EXPECT_LE(rounds, 3);
    }
}

TEST(TelnetProtocol, SubnegotiationsAreBoundedAndDroppedUnlessTheOptionIsOn) {
    TelnetProtocol protocol;
    // The client's own window size, unasked, in plain mode: refused, its size dropped.
    Collected got = Receive(protocol, QByteArray("\xff\xfb\x1f\xff\xfa\x1f\x00\x64\x00\x1e"
                                                 "\xff\xf0ok",
                                                 14));
    EXPECT_EQ(got.data, QByteArray("ok"));
    EXPECT_TRUE(got.events.empty());
    EXPECT_EQ(got.replies, QByteArray("\xff\xfe\x1f"));

    // A huge sub-negotiation costs no memory and the data after it still arrives.
    QByteArray huge("\xff\xfa\x18", 3);
    huge += QByteArray(100000, 'x') + QByteArray(
                                          "\xff\xf0"
                                          "after",
                                          7);
    got = Receive(protocol, huge, false);
    EXPECT_EQ(got.data, QByteArray("after"));
    // A sub-negotiation cut short by another command does not swallow the input.
    got = Receive(protocol, QByteArray("\xff\xfa\x18junk\xff\xf4more", 13));
    EXPECT_EQ(got.data, QByteArray("more"));
    ASSERT_EQ(got.events.size(), 1u);
    EXPECT_EQ(got.events[0].kind, Kind::InterruptProcess);
}

TEST(TelnetProtocol, TerminalModeNegotiatesCharacterModeSizeAndType) {
    TelnetProtocol protocol(TelnetPolicy{true, true});
    protocol.StartNegotiation();
    EXPECT_EQ(protocol.TakeReplies(),
              QByteArray("\xff\xfb\x01\xff\xfb\x03\xff\xfd\x1f\xff\xfd\x18"));
    EXPECT_EQ(protocol.Columns(), 80);
    EXPECT_EQ(protocol.Rows(), 24);

    // Debian's telnet crossing our offers: its WILL TTYPE and WILL NAWS answer ours, so
    // only the type is asked for; everything else it offers is refused.
    Collected got = Receive(protocol, Bytes(kDebianTelnetOpening));
    EXPECT_EQ(got.replies.toHex(' '), QByteArray("\xff\xfc\x26\xff\xfe\x26\xff\xfa\x18\x01\xff\xf0"
                                                 "\xff\xfe\x20\xff\xfe\x21\xff\xfe\x22\xff\xfe"
                                                 "\x27\xff\xfc\x05")
                                          .toHex(' '));
    EXPECT_TRUE(protocol.IsEnabled(telnet::OptSuppressGoAhead, true));
    EXPECT_TRUE(protocol.IsEnabled(telnet::OptWindowSize, false));
    EXPECT_TRUE(protocol.IsEnabled(telnet::OptTerminalType, false));
    EXPECT_FALSE(protocol.IsEnabled(telnet::OptEcho, true));

    // Its answers, as recorded: DO ECHO, the window size, the type in upper case; then a
    // character-mode line.
    got = Receive(protocol, Bytes(kDebianTelnetAnswers) + "name" + kCharacterModeEnd, true);
    EXPECT_TRUE(got.replies.isEmpty());
    EXPECT_TRUE(protocol.IsEnabled(telnet::OptEcho, true));
    EXPECT_EQ(got.data, QByteArray("name\r\x00", 6));
    EXPECT_EQ(protocol.Columns(), 100);
    EXPECT_EQ(protocol.Rows(), 30);
    EXPECT_EQ(protocol.TerminalType(), QByteArray("xterm"));
    ASSERT_EQ(got.events.size(), 3u);
    EXPECT_EQ(got.events[0].kind, Kind::OptionChanged);
    EXPECT_EQ(got.events[1].kind, Kind::WindowSize);
    EXPECT_EQ(got.events[2].kind, Kind::TerminalType);

    // A new size with a 255 in it (doubled on the wire); a zero keeps that dimension.
    got = Receive(protocol, QByteArray("\xff\xfa\x1f\x01\xff\xff\x00\x00\xff\xf0", 10));
    EXPECT_EQ(protocol.Columns(), 511);
    EXPECT_EQ(protocol.Rows(), 30);
    // Types that could not name a terminal are ignored.
    Receive(protocol, QByteArray("\xff\xfa\x18\x00../x;rm\xff\xf0", 13));
    Receive(protocol, "\xff\xfa\x18" + QByteArray(1, '\0') + QByteArray(41, 'a') + "\xff\xf0");
    EXPECT_EQ(protocol.TerminalType(), QByteArray("xterm"));
}

}  // namespace
}  // namespace orvane::test
