// A fuzz input read front to back as the bytes that steer a target; past the
// end every read gives zeros, so any input makes a whole run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct FuzzInput {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint32_t Byte()
    {
        return at < size ? data[at++] : 0;
    }
    uint32_t Word()
    {
        return Byte() | (Byte() << 8) | (Byte() << 16) | (Byte() << 24);
    }
    std::vector<uint8_t> Bytes(size_t n)
    {
        n = n < size - at ? n : size - at;
        std::vector<uint8_t> out(data + at, data + at + n);
        at += n;
        return out;
    }
    bool Empty() const
    {
        return at >= size;
    }
};
