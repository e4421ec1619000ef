// Little-endian values at any alignment: the byte readers of the whole
// module, for the container reader and the lookup's readers alike.
#pragma once

#include <cstdint>

inline uint16_t ReadLE16(const uint8_t* p)
{
    return (uint16_t)(p[0] | (p[1] << 8));
}

inline uint32_t ReadLE32(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

inline uint64_t ReadLE64(const uint8_t* p)
{
    return (uint64_t)ReadLE32(p) | ((uint64_t)ReadLE32(p + 4) << 32);
}
