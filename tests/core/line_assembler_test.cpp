// Lines as each client family ends them, erase, echo and the length rule.
#include <gtest/gtest.h>

#include <vector>

#include "telnet/LineAssembler.h"

namespace orvane::test {
namespace {

using Echo = LineAssembler::Echo;

struct Typed {
    std::vector<QByteArray> lines;
    QByteArray echo;
};

// Feeds each chunk as one receive: lines in order, the length rule at each chunk's end.
Typed Type(LineAssembler& input, const std::vector<QByteArray>& chunks, Echo echo = Echo::Text) {
    Typed out;
    for (const QByteArray& chunk : chunks) {
        QByteArrayView rest(chunk);
        while (!rest.isEmpty()) {
            const LineAssembler::Step step = input.Add(rest, echo, out.echo);
            rest = rest.sliced(step.used);
            if (step.complete) out.lines.push_back(input.TakeLine());
        }
        if (input.EndOfChunk(echo, out.echo)) out.lines.push_back(input.TakeLine());
    }
    return out;
}

TEST(LineAssembler, EraseRemovesWholeCharactersAndShowsIt) {
    LineAssembler input;
    // "é" is two bytes; BS and DEL each take one character; nothing happens at an empty line.
    Typed typed = Type(input, {"ab\xc3\xa9", "\x7f", "\b\bx\b\b\b\rok\r"});
    EXPECT_EQ(typed.lines, (std::vector<QByteArray>{"", "ok"}));
    EXPECT_EQ(typed.echo, QByteArray("ab\xc3\xa9\b \b\b \b\b \bx\b \b\r\nok\r\n"));

    // The password shows one "*" per byte: erasing "é" takes both away.
    typed = Type(input, {"p\xc3\xa9", "\x7f", "w\r\n"}, Echo::Masked);
    EXPECT_EQ(typed.lines, (std::vector<QByteArray>{"pw"}));
    EXPECT_EQ(typed.echo, QByteArray("***\b \b\b \b*\n"));

    typed = Type(input, {"abc\b\r"}, Echo::None);
    EXPECT_EQ(typed.lines, (std::vector<QByteArray>{"ab"}));
    EXPECT_TRUE(typed.echo.isEmpty());

    QByteArray echo;
    Type(input, {"h\xc3\xa9llo"});
    input.EraseLine(Echo::Text, echo);
    EXPECT_EQ(echo, QByteArray("\b \b\b \b\b \b\b \b\b \b"));
    EXPECT_TRUE(input.IsEmpty());
}

TEST(LineAssembler, TheLengthRuleStaysAsItWas) {
    LineAssembler input;
    // 101 bytes one by one: the first 100 make the line, the 101st is lost.
    std::vector<QByteArray> bytes;
    for (int i = 0; i < 101; ++i) bytes.push_back(QByteArray(1, char('a' + i % 26)));
    Typed typed = Type(input, bytes);
    ASSERT_EQ(typed.lines.size(), 1u);
    EXPECT_EQ(typed.lines[0].size(), 100);
    EXPECT_TRUE(typed.echo.endsWith("w\n"));

    // 150 bytes ending in a CR in one chunk stay whole.
    typed = Type(input, {QByteArray(150, 'x') + "\r\n"});
    ASSERT_EQ(typed.lines.size(), 1u);
    EXPECT_EQ(typed.lines[0], QByteArray(150, 'x'));
    // Without a CR the chunk's newest byte goes.
    typed = Type(input, {QByteArray(149, 'x') + "y"});
    ASSERT_EQ(typed.lines.size(), 1u);
    EXPECT_EQ(typed.lines[0], QByteArray(149, 'x'));
    // However large a chunk, a line never holds more than the buffer.
    typed = Type(input, {QByteArray(10000, 'z')});
    ASSERT_EQ(typed.lines.size(), 3u);
    EXPECT_EQ(typed.lines[0].size(), LineAssembler::kMaxHeld - 1);
}

TEST(LineAssembler, InterpreterGetsCrLfOverPipesAndCrOnATerminal) {
    LineAssembler pipes;
    QByteArray out;
    pipes.ConvertForInterpreter(QByteArray("ls\r\0pwd\r", 8), false, out);
    pipes.ConvertForInterpreter("\nid\n", false, out);
    EXPECT_EQ(out, QByteArray("ls\r\npwd\r\nid\n"));

    // The LF of a "dos" line's CR LF that arrives after the switch is dropped there too.
    LineAssembler terminal;
    QByteArray echo;
    terminal.Add("dos\r", Echo::Text, echo);
    terminal.TakeLine();
    out.clear();
    terminal.ConvertForInterpreter("\nvi\r\n", true, out);
    terminal.ConvertForInterpreter(QByteArray("x\r\0\x03", 4), true, out);
    EXPECT_EQ(out, QByteArray("vi\rx\r\x03"));
}

}  // namespace
}  // namespace orvane::test
