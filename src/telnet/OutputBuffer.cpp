// The output buffer: appends at the back, consumes at the front without moving bytes each time.
#include "telnet/OutputBuffer.h"

#include <algorithm>

namespace orvane {

void OutputBuffer::Append(const char* data, long length) {
    if (length <= 0) return;
    // Drop what has gone out once it is half of what is held, so the storage does not creep.
    if (m_start > 0 && m_start >= static_cast<long>(m_bytes.size()) / 2) {
        m_bytes.remove(0, m_start);
        m_start = 0;
    }
    m_bytes.append(data, length);
}

void OutputBuffer::Consume(long count) {
    m_start += std::clamp(count, 0L, Pending());
    if (m_start == static_cast<long>(m_bytes.size())) Clear();
}

void OutputBuffer::Clear() {
    m_bytes.clear();
    m_start = 0;
}

}  // namespace orvane
