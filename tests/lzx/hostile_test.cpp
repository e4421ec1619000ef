// Hostile streams: random bytes, truncated and bit-flipped encodings. Every
// call must return a clean result without touching memory outside its input,
// output and window (run under ASan to see it).
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "lzx/lzx.h"
#include "support/lzx_encoder.h"

namespace {

struct Decoded {
    int result;
    std::vector<uint8_t> out;
    uint32_t used;  // InputUsed, for LzxOk
};

// Decodes length bytes from a copy of stream exactly as long as it (ASan sees
// any read past it). Every result is one of the decoder's codes, and an LzxOk
// one never took more input than there was.
Decoded DecodeExact(const std::vector<uint8_t>& stream, int bits, size_t length)
{
    EXPECT_EQ(InitLzxDecoder(bits), LzxOk);
    std::vector<uint8_t> input(stream);
    Decoded d {LzxOk, std::vector<uint8_t>(length), 0};
    d.result = DecompressLzx(input.empty() ? nullptr : input.data(), d.out.data(),
                             (int32_t)input.size(), (int32_t)length);
    EXPECT_TRUE(d.result == LzxOk || d.result == LzxBadFormat || d.result == LzxIllegalData)
        << d.result;
    if (d.result == LzxOk) {
        d.used = lzxDecoder.InputUsed;
        EXPECT_LE(d.used, input.size());
        EXPECT_LE(lzxDecoder.WindowPosition, lzxDecoder.WindowSize);
    }
    return d;
}

std::vector<uint8_t> Sample(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v;
    while (v.size() < n) {
        if (rng() % 3 == 0 && v.size() > 50) {
            size_t from = v.size() - 1 - rng() % std::min<size_t>(v.size() - 1, 3000);
            for (int k = 0; k < 4 + (int)(rng() % 40); k++) {
                v.push_back(v[from + k]);
            }
        } else {
            v.push_back((uint8_t)(rng() % 40 + 'A'));
        }
    }
    v.resize(n);
    return v;
}

TEST(LzxHostile, RandomBytes)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 300; round++) {
        std::vector<uint8_t> stream(rng() % 400);
        for (uint8_t& b : stream) {
            b = (uint8_t)rng();
        }
        // Random streams mostly decode as something; keep the lengths small.
        DecodeExact(stream, 15 + round % 7, 1 + rng() % 5000);
    }
}

TEST(LzxHostile, TruncatedStreams)
{
    // The encoder writes nothing the decoder does not need, except the pad
    // byte after an uncompressed block of odd length: a prefix that keeps
    // every needed byte decodes as the whole stream, one that drops any of
    // them fails as illegal data (bits past the end would be zeros).
    struct Case {
        const char* what;
        std::vector<int> types;
        uint32_t blockSize;
        size_t length;
        size_t unneeded;  // trailing bytes the output does not need
    } cases[] = {
        {"verbatim", {1}, 1500, 6000, 0},
        {"aligned offset, then verbatim", {2, 1}, 1500, 6000, 0},
        {"uncompressed, then verbatim", {3, 1}, 1500, 6000, 0},
        {"uncompressed of odd length to the end", {3}, 2001, 6001, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> data = Sample(c.length, 12);
        LzxEncodeOptions o;
        o.blockTypes = c.types;
        o.blockSizes = {c.blockSize};
        std::vector<uint8_t> stream = LzxCompress(data, 15, o);
        const size_t needed = stream.size() - c.unneeded;
        std::vector<size_t> cuts;
        for (size_t cut = 0; cut < needed; cut += 1 + cut / 16) {
            cuts.push_back(cut);
        }
        for (size_t back = 1; back <= 3; back++) {
            cuts.push_back(needed - back);
        }
        cuts.push_back(needed);
        cuts.push_back(stream.size());
        for (size_t cut : cuts) {
            SCOPED_TRACE(cut);
            Decoded d = DecodeExact(std::vector<uint8_t>(stream.begin(), stream.begin() + cut), 15,
                                    data.size());
            if (cut < needed) {
                EXPECT_EQ(d.result, LzxIllegalData);
            } else {
                ASSERT_EQ(d.result, LzxOk);
                EXPECT_EQ(d.out, data);
                EXPECT_EQ(d.used, cut);
            }
        }
    }
}

TEST(LzxHostile, FlippedBits)
{
    std::vector<uint8_t> data = Sample(20000, 13);
    std::mt19937 rng(14);
    for (int type : {1, 2, 3}) {
        for (int bits : {15, 16, 21}) {
            LzxEncodeOptions o;
            o.blockTypes = {type, 2, 1};
            o.blockSizes = {3000, 5000, 0};
            o.e8 = bits == 16;
            std::vector<uint8_t> stream = LzxCompress(data, bits, o);
            for (int round = 0; round < 40; round++) {
                std::vector<uint8_t> bad = stream;
                int flips = 1 + (int)(rng() % 4);
                for (int i = 0; i < flips; i++) {
                    bad[rng() % bad.size()] ^= (uint8_t)(1u << (rng() % 8));
                }
                DecodeExact(bad, bits, data.size() + (round % 3 == 0 ? 300 : 0));
            }
        }
    }
}

TEST(LzxHostile, InvalidBlockTypes)
{
    std::vector<uint8_t> data = Sample(3000, 16);
    for (int type : {0, 4, 5, 6, 7}) {
        LzxEncodeOptions o;
        o.blockTypes = {1, type};
        o.blockSizes = {1000};
        EXPECT_EQ(DecodeExact(LzxCompress(data, 15, o), 15, data.size()).result, LzxIllegalData)
            << type;
        EXPECT_EQ(lzxDecoder.BlockType, type);
    }
}

TEST(LzxHostile, WindowSizeMismatch)
{
    // A stream made for a large window, read with a small one: its offsets
    // and slots reach outside the window.
    std::vector<uint8_t> data = Sample(200000, 15);
    LzxEncodeOptions o;
    o.blockSizes = {65536};
    std::vector<uint8_t> stream = LzxCompress(data, 21, o);
    EXPECT_NE(DecodeExact(stream, 15, data.size()).result, LzxOk);
}

}  // namespace
