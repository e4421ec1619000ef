// Hand-written LZX bit streams for the decoder's tests: 16-bit little-endian
// words, bits taken from the most significant end.
#pragma once

#include <cstdint>
#include <vector>

struct StreamWriter {
    std::vector<uint8_t> bytes;
    uint32_t word = 0;
    int used = 0;

    StreamWriter& Bits(uint32_t value, int n)
    {
        for (int i = n - 1; i >= 0; i--) {
            word = (word << 1) | (i < 32 ? (value >> i) & 1 : 0);
            if (++used == 16) {
                bytes.push_back((uint8_t)word);
                bytes.push_back((uint8_t)(word >> 8));
                word = 0;
                used = 0;
            }
        }
        return *this;
    }
    // Pads to the next word boundary: the rest of the word, or a whole word.
    StreamWriter& PadWord()
    {
        return Bits(0, used == 0 ? 16 : 16 - used);
    }
    StreamWriter& Align()
    {
        return used == 0 ? *this : Bits(0, 16 - used);
    }
    StreamWriter& Raw(const std::vector<uint8_t>& raw)
    {
        bytes.insert(bytes.end(), raw.begin(), raw.end());
        return *this;
    }
    StreamWriter& Le32(uint32_t v)
    {
        for (int i = 0; i < 4; i++) {
            bytes.push_back((uint8_t)(v >> (8 * i)));
        }
        return *this;
    }
    // Stream header: no translation, or the translation size.
    StreamWriter& Header(int32_t translationSize = 0)
    {
        if (translationSize == 0) {
            return Bits(0, 1);
        }
        return Bits(1, 1)
            .Bits((uint32_t)translationSize >> 16, 16)
            .Bits((uint32_t)translationSize & 0xFFFF, 16);
    }
    StreamWriter& BlockHeader(int type, uint32_t length)
    {
        return Bits((uint32_t)type, 3).Bits(length >> 8, 16).Bits(length & 0xFF, 8);
    }
    // A whole uncompressed block after its header.
    StreamWriter& Uncompressed(const std::vector<uint8_t>& data, uint32_t r0 = 1, uint32_t r1 = 1,
                               uint32_t r2 = 1)
    {
        BlockHeader(3, (uint32_t)data.size()).PadWord().Le32(r0).Le32(r1).Le32(r2).Raw(data);
        if (data.size() % 2 != 0) {
            bytes.push_back(0);
        }
        return *this;
    }
};
