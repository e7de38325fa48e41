// A session's output that the connection has not taken yet: a soft limit instead of a wait.
#pragma once

#include <QByteArray>

namespace orvane {

// Takes everything it is given, so that a sender never waits. Above the limit the owner
// stops producing (it stops reading its client and its bridge) until the buffer drains, so
// the limit is passed by at most one handler's output.
class OutputBuffer final {
public:
    static constexpr long kDefaultLimit = 1024 * 1024;

    explicit OutputBuffer(long limit = kDefaultLimit) : m_limit(limit) {}

    void SetLimit(long bytes) { m_limit = bytes; }
    long Limit() const { return m_limit; }

    void Append(const char* data, long length);
    // The bytes still to go, oldest first, and how many there are.
    const char* Data() const { return m_bytes.constData() + m_start; }
    long Pending() const { return static_cast<long>(m_bytes.size()) - m_start; }
    bool IsEmpty() const { return Pending() == 0; }
    bool AboveLimit() const { return Pending() >= m_limit; }
    // The connection took `count` bytes from the front.
    void Consume(long count);
    void Clear();

private:
    QByteArray m_bytes;
    long m_start = 0;  // bytes before this have gone out
    long m_limit;
};

}  // namespace orvane
