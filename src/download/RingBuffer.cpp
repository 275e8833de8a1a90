#include "download/RingBuffer.h"

#include <algorithm>
#include <cstring>

RingBuffer::RingBuffer(std::size_t capacity) : data(capacity) {}

void RingBuffer::Write(const char* bytes, std::size_t len)
{
    const std::size_t tail = (head + size) % data.size();
    const std::size_t first = std::min(len, data.size() - tail);
    std::memcpy(data.data() + tail, bytes, first);
    std::memcpy(data.data(), bytes + first, len - first);
    size += len;
}

std::size_t RingBuffer::Read(char* out, std::size_t len)
{
    len = std::min(len, size);
    const std::size_t first = std::min(len, data.size() - head);
    std::memcpy(out, data.data() + head, first);
    std::memcpy(out + first, data.data(), len - first);
    head = (head + len) % data.size();
    size -= len;
    return len;
}
