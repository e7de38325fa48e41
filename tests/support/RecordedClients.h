// What real Telnet clients were recorded sending, byte for byte, to a loopback listener
// that answered nothing (Debian 12's clients; a terminal of 100 x 30 for the sizes).
#pragma once

#include <QByteArray>
#include <cstddef>

namespace orvane::test::recorded {

// Debian's telnet, `open 127.0.0.1 -PORT`, which negotiates as on port 23: DO/WILL
// ENCRYPT, DO SGA, WILL TTYPE, NAWS, TSPEED, LFLOW, LINEMODE, NEW-ENVIRON, DO STATUS.
inline constexpr unsigned char kDebianTelnetOpening[] = {
    0xff, 0xfd, 0x26, 0xff, 0xfb, 0x26, 0xff, 0xfd, 0x03, 0xff, 0xfb, 0x18, 0xff, 0xfb, 0x1f,
    0xff, 0xfb, 0x20, 0xff, 0xfb, 0x21, 0xff, 0xfb, 0x22, 0xff, 0xfb, 0x27, 0xff, 0xfd, 0x05};
// The same client offered character mode: DO ECHO, its size, its type in upper case.
inline constexpr unsigned char kDebianTelnetAnswers[] = {
    0xff, 0xfd, 0x01, 0xff, 0xfa, 0x1f, 0x00, 0x64, 0x00, 0x1e, 0xff, 0xf0,
    0xff, 0xfa, 0x18, 0x00, 'X',  'T',  'E',  'R',  'M',  0xff, 0xf0};
// Its Ctrl-C in line mode: interrupt process, then a timing mark to flush output.
inline constexpr unsigned char kDebianTelnetInterrupt[] = {0xff, 0xf4, 0xff, 0xfd, 0x06};
// plink -telnet (PuTTY's engine), on any port: WILL NAWS, TSPEED, TTYPE, NEW-ENVIRON,
// DO ECHO, WILL SGA, DO SGA.
inline constexpr unsigned char kPlinkOpening[] = {0xff, 0xfb, 0x1f, 0xff, 0xfb, 0x20, 0xff,
                                                  0xfb, 0x18, 0xff, 0xfb, 0x27, 0xff, 0xfd,
                                                  0x01, 0xff, 0xfb, 0x03, 0xff, 0xfd, 0x03};
// busybox telnet switched to character mode (Ctrl-C, then c): DO ECHO, DO SGA.
inline constexpr unsigned char kBusyboxCharacterMode[] = {0xff, 0xfd, 0x01, 0xff, 0xfd, 0x03};
// busybox answering the refusal of those: DONT ECHO, DONT SGA.
inline constexpr unsigned char kBusyboxDonts[] = {0xff, 0xfe, 0x01, 0xff, 0xfe, 0x03};

// How each ends a line the user typed: line mode, character mode (Debian's telnet and
// plink once in character mode), plink in line mode.
inline constexpr char kLineModeEnd[] = "\r\n";
inline const QByteArray kCharacterModeEnd("\r\0", 2);
inline constexpr char kPlinkLineModeEnd[] = "\n";

template <std::size_t N>
QByteArray Bytes(const unsigned char (&data)[N]) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(N));
}

}  // namespace orvane::test::recorded
