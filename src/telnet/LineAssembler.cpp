// Line assembly for the session: line ends, erase, echo and the length rule.
#include "telnet/LineAssembler.h"

namespace orvane {

namespace {
constexpr char kReturn = '\r';
constexpr char kLineFeed = '\n';
constexpr char kBackspace = 0x08;
constexpr char kDelete = 0x7f;
constexpr char kErased[] = "\b \b";

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}
}  // namespace

LineAssembler::Step LineAssembler::Add(QByteArrayView data, Echo echoMode, QByteArray& echo) {
    Step step;
    while (step.used < data.size()) {
        const char c = data[step.used++];
        if (m_bAfterReturn) {
            m_bAfterReturn = false;
            // CR LF from line-mode clients, CR NUL from character-mode ones: one line end.
            if (c == kLineFeed || c == '\0') continue;
        }
        if (c == kReturn || c == kLineFeed) {
            m_bAfterReturn = c == kReturn;
            Complete(echoMode, echo, false);
            step.complete = true;
            return step;
        }
        if (c == kBackspace || c == kDelete) {
            EraseCharacter(echoMode, echo);
            continue;
        }
        m_line.append(c);
        if (echoMode == Echo::Text) echo.append(c);
        if (echoMode == Echo::Masked) echo.append('*');
        if (m_line.size() >= kMaxHeld) {
            Complete(echoMode, echo, true);
            step.complete = true;
            return step;
        }
    }
    return step;
}

bool LineAssembler::EndOfChunk(Echo echoMode, QByteArray& echo) {
    if (m_line.size() <= kMaxLineLength) return false;
    Complete(echoMode, echo, true);
    return true;
}

void LineAssembler::Complete(Echo echoMode, QByteArray& echo, bool byLength) {
    // The line end echoed is the one a CR-ended line has always had: the CR itself (not
    // in the password), then an LF; a line completed by length gets the LF alone.
    if (echoMode == Echo::Text && !byLength) echo.append(kReturn);
    if (echoMode != Echo::None) echo.append(kLineFeed);
    if (byLength) m_line.chop(1);
    m_completed = m_line;
    m_line.resize(0);
}

QByteArray LineAssembler::TakeLine() {
    QByteArray line;
    line.swap(m_completed);
    return line;
}

void LineAssembler::EraseCharacter(Echo echoMode, QByteArray& echo) {
    if (m_line.isEmpty()) return;
    qsizetype start = m_line.size() - 1;
    while (start > 0 && IsContinuationByte(m_line[start]) && m_line.size() - start < 4) --start;
    // Stray continuation bytes without their lead byte go one at a time.
    if (start < m_line.size() - 1 && static_cast<unsigned char>(m_line[start]) < 0xC0) {
        start = m_line.size() - 1;
    }
    // The password showed one "*" per byte: each goes again.
    const qsizetype cells = echoMode == Echo::Masked ? m_line.size() - start : 1;
    m_line.truncate(start);
    if (echoMode == Echo::None) return;
    for (qsizetype i = 0; i < cells; ++i) echo.append(kErased);
}

void LineAssembler::EraseLine(Echo echoMode, QByteArray& echo) {
    // Bounded by the held line: each call removes at least one byte.
    while (!m_line.isEmpty()) EraseCharacter(echoMode, echo);
}

void LineAssembler::ConvertForInterpreter(QByteArrayView data, bool terminal, QByteArray& out) {
    for (const char c : data) {
        if (m_bAfterReturn) {
            m_bAfterReturn = false;
            if (c == kLineFeed || c == '\0') continue;
        }
        if (c == kReturn) {
            m_bAfterReturn = true;
            out.append(terminal ? "\r" : "\r\n");
        } else {
            out.append(c);
        }
    }
}

}  // namespace orvane
