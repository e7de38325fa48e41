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
    // The storage stays (it is bounded by the limit): a client that reads slower than its
    // shell writes fills and drains this many times a second, and giving the memory back
    // each time made the allocator map, fault in and unmap it again every time.
    m_bytes.resize(0);
    m_start = 0;
}

}  // namespace orvane
