// The Telnet protocol layer against the opening bytes real clients were recorded sending.
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

// Every reply to a request to switch an option on is a refusal of that same option.
void ExpectEachRequestRefusedOnce(const QByteArray& requests, const QByteArray& replies) {
    QByteArray expected;
    for (qsizetype i = 0; i + 2 < requests.size(); i += 3) {
        const auto verb = static_cast<unsigned char>(requests[i + 1]);
        const unsigned char refusal = verb == telnet::DO ? telnet::WONT : telnet::DONT;
        expected.append(char(telnet::IAC)).append(char(refusal)).append(requests[i + 2]);
    }
    EXPECT_EQ(replies.toHex(' '), expected.toHex(' '));
}

TEST(TelnetProtocol, EachRealClientsOpeningIsRefusedOnceAndLeavesTheUserNameClean) {
    const QByteArray openings[] = {Bytes(kDebianTelnetOpening), Bytes(kPlinkOpening),
                                   Bytes(kBusyboxCharacterMode), QByteArray()};
    for (const QByteArray& opening : openings) {
        for (bool bytewise : {false, true}) {
            SCOPED_TRACE(opening.toHex(' ').toStdString() + (bytewise ? " bytewise" : ""));
            TelnetProtocol protocol;
            const Collected got = Receive(protocol, opening + "name\r\n", bytewise);
            EXPECT_EQ(got.data, QByteArray("name\r\n"));
            EXPECT_TRUE(got.events.empty());
            ExpectEachRequestRefusedOnce(opening, got.replies);
            EXPECT_EQ(protocol.ClientSpeaksTelnet(), !opening.isEmpty());
        }
    }
}

TEST(TelnetProtocol, NegotiationNeverLoops) {
    // busybox answers the refusal of its DO ECHO / DO SGA with DONT ECHO / DONT SGA.
    TelnetProtocol protocol;
    ASSERT_FALSE(Receive(protocol, Bytes(kBusyboxCharacterMode)).replies.isEmpty());
    EXPECT_TRUE(Receive(protocol, Bytes(kBusyboxDonts)).replies.isEmpty());
    // Asked again, refused again, once per request.
    EXPECT_EQ(Receive(protocol, Bytes(kBusyboxCharacterMode)).replies,
              QByteArray("\xff\xfc\x01\xff\xfc\x03"));

    // A peer that mirrors every byte back, as the server used to: the exchange dies out.
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

TEST(TelnetProtocol, CommandsComeOutInOrderWithTheData) {
    TelnetProtocol protocol;
    Collected got = Receive(protocol, "ab" + Bytes(kDebianTelnetInterrupt) +
                                          QByteArray("c\xff\xf6\xff\xf7\xff\xf8"
                                                     "d\xff\xf1\xff\xf2\xff\xf3\xff\xf5\xff"
                                                     "\xf9\xff\x10\xff\xf0"
                                                     "e"));
    EXPECT_EQ(got.data, QByteArray("abcde"));
    ASSERT_EQ(got.events.size(), 5u);
    EXPECT_EQ(got.events[0].kind, Kind::InterruptProcess);
    EXPECT_EQ(got.events[1].kind, Kind::TimingMark);
    EXPECT_EQ(got.events[2].kind, Kind::AreYouThere);
    EXPECT_EQ(got.events[3].kind, Kind::EraseCharacter);
    EXPECT_EQ(got.events[4].kind, Kind::EraseLine);
    // The timing mark is answered every time, and only once it is reached.
    EXPECT_EQ(got.replies, QByteArray("\xff\xfb\x06"));
    protocol.Feed(Bytes(kDebianTelnetInterrupt));
    TelnetEvent event;
    ASSERT_TRUE(protocol.Next(event));
    EXPECT_EQ(event.kind, Kind::InterruptProcess);
    EXPECT_FALSE(protocol.HasReplies());
    ASSERT_TRUE(protocol.Next(event));
    EXPECT_EQ(event.kind, Kind::TimingMark);
    EXPECT_EQ(protocol.TakeReplies(), QByteArray("\xff\xfb\x06"));
}

TEST(TelnetProtocol, DoubledIacIsOneDataByteAndOutputIsQuotedOnlyForTelnetClients) {
    TelnetProtocol protocol;
    EXPECT_FALSE(protocol.ClientSpeaksTelnet());
    Collected got = Receive(protocol, QByteArray("a\xff\xff", 3) + "b" + QByteArray("\xff", 1));
    got.data += Receive(protocol, QByteArray("\xff", 1) + "c").data;
    EXPECT_EQ(got.data, QByteArray("a\xff"
                                   "b\xff"
                                   "c"));
    EXPECT_TRUE(got.replies.isEmpty());
    EXPECT_TRUE(protocol.ClientSpeaksTelnet());

    QByteArray out("x");
    TelnetProtocol::AppendQuoted(out, QByteArray("\xff"
                                                 "a\xff\xff",
                                                 4));
    EXPECT_EQ(out, QByteArray("x\xff\xff"
                              "a\xff\xff\xff\xff"));
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

TEST(TelnetProtocol, TerminalModeWithoutEchoDoesNotOfferIt) {
    TelnetProtocol protocol(TelnetPolicy{true, false});
    protocol.StartNegotiation();
    EXPECT_EQ(protocol.TakeReplies(), QByteArray("\xff\xfb\x03\xff\xfd\x1f\xff\xfd\x18"));
    // plink asks for echo: refused; its own WILL TTYPE is taken and the type asked for.
    const Collected got = Receive(protocol, Bytes(kPlinkOpening));
    EXPECT_TRUE(got.replies.contains(QByteArray("\xff\xfc\x01")));
    EXPECT_TRUE(got.replies.contains(QByteArray("\xff\xfa\x18\x01\xff\xf0")));
    EXPECT_FALSE(protocol.IsEnabled(telnet::OptEcho, true));
}

}  // namespace
}  // namespace orvane::test
