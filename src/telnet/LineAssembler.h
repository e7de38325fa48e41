// Turns the data bytes a client types into lines: line ends of every client family, erase,
// the echo that goes with them and the 100-byte rule; and the same line ends on the way to
// the interpreter. Pure: the session sends the echo and handles each line.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace orvane {

class LineAssembler final {
public:
    enum class Echo {
        None,    // echo is off
        Text,    // the bytes as typed
        Masked,  // one "*" per byte (the password)
    };
    static constexpr int kMaxLineLength = 100;  // a line is complete past this many bytes
    static constexpr int kMaxHeld = 4095;       // the most a line can hold, whatever the chunk

    struct Step {
        qsizetype used = 0;     // bytes of the input taken
        bool complete = false;  // a line ended: take it with TakeLine before adding more
    };

    // Takes bytes up to and including the first line end. A CR ends a line wherever it
    // stands, a bare LF too; an LF or NUL right after a CR is dropped, also when it comes
    // in a later chunk. BS and DEL erase. What to echo is appended to `echo`.
    Step Add(QByteArrayView data, Echo echoMode, QByteArray& echo);
    // At the end of each received chunk: a line held past the length limit is complete,
    // its newest byte lost.
    bool EndOfChunk(Echo echoMode, QByteArray& echo);
    // The completed line, without its line end; the assembler starts a new one.
    QByteArray TakeLine();

    // Removes the last character held (a whole UTF-8 character); nothing at an empty line.
    void EraseCharacter(Echo echoMode, QByteArray& echo);
    // Removes everything held.
    void EraseLine(Echo echoMode, QByteArray& echo);
    bool IsEmpty() const { return m_line.isEmpty(); }
    qsizetype Size() const { return m_line.size(); }

    // Input for the interpreter: a CR stays a CR for a terminal and becomes CR LF for pipes;
    // the LF or NUL after it is dropped, as in line input (the state is shared).
    void ConvertForInterpreter(QByteArrayView data, bool terminal, QByteArray& out);

private:
    void Complete(Echo echoMode, QByteArray& echo, bool byLength);

    QByteArray m_line;
    QByteArray m_completed;
    bool m_bAfterReturn = false;  // the last byte taken was a CR that ended a line
};

}  // namespace orvane
