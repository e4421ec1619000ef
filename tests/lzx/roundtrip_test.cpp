// Data of many kinds round-trips through the test-side encoder and
// DecompressLzx, for every window size and block type.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lzx/lzx.h"
#include "support/lzx_encoder.h"

namespace {

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (uint8_t& b : v) {
        b = (uint8_t)rng();
    }
    return v;
}

// Text-like data: words from a small vocabulary, so that there are matches
// of every length and many repeated offsets, with some noise and E8 bytes.
std::vector<uint8_t> Structured(size_t n, uint32_t seed)
{
    static const char* const words[] = {"<p>",   "the ",   "help ",   "topic ",
                                        "</a>",  "index ", "window ", "\xE8\x10\x00\x00\x00",
                                        "call ", "  ",     "\r\n",    "keyword="};
    std::mt19937 rng(seed);
    std::vector<uint8_t> v;
    v.reserve(n + 16);
    while (v.size() < n) {
        uint32_t r = rng();
        if (r % 23 == 0) {
            v.push_back((uint8_t)(r >> 8));
        } else if (r % 31 == 0 && v.size() > 300) {
            // A long repeat from far back.
            size_t from = v.size() - 1 - (r >> 8) % (v.size() - 1);
            size_t len = 20 + (r >> 4) % 200;
            for (size_t i = 0; i < len; i++) {
                v.push_back(v[from + i]);
            }
        } else {
            const char* w = words[(r >> 5) % (sizeof words / sizeof words[0])];
            size_t len = (r >> 5) % 12 == 7 ? 5 : strlen(w);
            v.insert(v.end(), w, w + len);
        }
    }
    v.resize(n);
    return v;
}

std::vector<uint8_t> Decode(const std::vector<uint8_t>& stream, int bits, size_t length,
                            int* result)
{
    std::vector<uint8_t> out(length);
    EXPECT_EQ(InitLzxDecoder(bits), LzxOk);
    *result = DecompressLzx(stream.data(), out.data(), (int32_t)stream.size(), (int32_t)length);
    return out;
}

void ExpectRoundTrip(const std::vector<uint8_t>& data, int bits, const LzxEncodeOptions& options)
{
    std::vector<uint8_t> stream = LzxCompress(data, bits, options);
    int result = -1;
    std::vector<uint8_t> out = Decode(stream, bits, data.size(), &result);
    ASSERT_EQ(result, LzxOk);
    ASSERT_TRUE(out == data) << "first difference at "
                             << (std::mismatch(out.begin(), out.end(), data.begin()).first -
                                 out.begin());
}

TEST(LzxRoundTrip, EveryWindowSizeAndBlockType)
{
    for (int bits = 15; bits <= 21; bits++) {
        for (int type = 1; type <= 3; type++) {
            SCOPED_TRACE("bits " + std::to_string(bits) + " type " + std::to_string(type));
            LzxEncodeOptions o;
            o.blockTypes = {type};
            o.blockSizes = {20000, 32768, 1};
            ExpectRoundTrip(Structured(70000, bits * 10 + type), bits, o);
        }
    }
}

TEST(LzxRoundTrip, IncompressibleData)
{
    for (int type = 1; type <= 3; type++) {
        LzxEncodeOptions o;
        o.blockTypes = {type};
        o.blockSizes = {4097, 0, 30001};
        ExpectRoundTrip(RandomBytes(50000, 100 + type), 15 + 3 * (type - 1), o);
    }
}

TEST(LzxRoundTrip, SeveralWindowsEverySizeWithAndWithoutE8)
{
    // Two full windows and a part of a third for the small windows; one
    // restart for the largest, whose windows are big to fill.
    for (int bits = 15; bits <= 21; bits++) {
        size_t length = bits <= 17 ? (2u << bits) + 777 : (1u << bits) + 50000;
        std::vector<uint8_t> data = Structured(length, 200 + bits);
        for (bool e8 : {false, true}) {
            if (bits >= 18 && e8 == (bits % 2 == 0)) {
                continue;  // the big windows take one variant each
            }
            SCOPED_TRACE("bits " + std::to_string(bits) + (e8 ? " e8" : ""));
            LzxEncodeOptions o;
            o.blockTypes = {bits % 2 ? 2 : 1, 3, 1, 2};
            o.blockSizes = {(uint32_t)(bits <= 17 ? 9999 : 300001), 3, 0, 65536};
            o.e8 = e8;
            o.translationSize = 1 << 24;
            ExpectRoundTrip(data, bits, o);
        }
    }
}

TEST(LzxRoundTrip, ShortOutputsAndTinyBlocks)
{
    for (size_t n : {1u, 2u, 6u, 7u, 11u, 257u, 258u}) {
        std::vector<uint8_t> data = Structured(n, (uint32_t)n);
        for (int type = 1; type <= 3; type++) {
            LzxEncodeOptions o;
            o.blockTypes = {type};
            o.blockSizes = {1, 0, 2};
            o.e8 = true;
            ExpectRoundTrip(data, 15, o);
        }
    }
}

TEST(LzxRoundTrip, FarOffsetsUseEverySlot)
{
    // Copies from every distance up to the window's size exercise the slots
    // with 17 extra bits (verbatim and aligned).
    std::vector<uint8_t> data = RandomBytes(1u << 21, 300);
    std::mt19937 rng(301);
    for (size_t at = 4096; at + 64 < data.size(); at += 4000 + rng() % 3000) {
        size_t distance = 1 + rng() % std::min<size_t>(at, (1u << 21) - 3);
        for (int k = 0; k < 40; k++) {
            data[at + k] = data[at + k - distance];
        }
    }
    for (int type : {1, 2}) {
        LzxEncodeOptions o;
        o.blockTypes = {type};
        o.blockSizes = {1u << 20};
        ExpectRoundTrip(data, 21, o);
    }
}

}  // namespace
