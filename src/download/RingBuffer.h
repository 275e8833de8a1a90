#pragma once

#include <cstddef>
#include <vector>

// A fixed-capacity byte FIFO: the producer writes only whole blocks that fit,
// the consumer takes any amount.
class RingBuffer {
public:
    explicit RingBuffer(std::size_t capacity);

    std::size_t Size() const { return size; }
    std::size_t Free() const { return data.size() - size; }

    // Appends all of len bytes; the caller checks Free() first.
    void Write(const char* bytes, std::size_t len);
    // Moves up to len bytes out; returns how many.
    std::size_t Read(char* out, std::size_t len);

private:
    std::vector<char> data;
    std::size_t head = 0; // next byte to read
    std::size_t size = 0;
};
