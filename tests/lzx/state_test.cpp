// Decoder set-up: window reuse and growth, slot tables, stream start state.
#include <gtest/gtest.h>

#include <vector>

#include "lzx/lzx.h"
#include "stream_writer.h"

namespace {

TEST(LzxSetUp, BitsOutOfRangeChangeNothing)
{
    ASSERT_EQ(InitLzxDecoder(16), LzxOk);
    // Leave the decoder mid-stream, then ask for impossible windows.
    StreamWriter s;
    s.Header().Uncompressed({1, 2, 3, 4, 5, 6});
    std::vector<uint8_t> out(6);
    ASSERT_EQ(DecompressLzx(s.bytes.data(), out.data(), (int32_t)s.bytes.size(), 6), LzxOk);
    uint8_t* window = lzxDecoder.Window;
    for (int bits : {14, 22, -1, 1 << 30}) {
        EXPECT_EQ(InitLzxDecoder(bits), LzxBadFormat);
        EXPECT_EQ(lzxDecoder.Window, window);
        EXPECT_EQ(lzxDecoder.WindowSize, 65536u);
        EXPECT_EQ(lzxDecoder.WindowPosition, 6u);
        EXPECT_EQ(lzxDecoder.DecodeCalls, 1u);
    }
}

TEST(LzxSetUp, WindowOnlyGrows)
{
    ASSERT_EQ(InitLzxDecoder(16), LzxOk);
    EXPECT_GE(lzxDecoder.WindowCapacity, 65536u);
    ASSERT_EQ(InitLzxDecoder(21), LzxOk);
    EXPECT_EQ(lzxDecoder.WindowCapacity, 2097152u);
    EXPECT_EQ(lzxDecoder.WindowSize, 2097152u);
    uint8_t* big = lzxDecoder.Window;
    ASSERT_EQ(InitLzxDecoder(16), LzxOk);
    EXPECT_EQ(lzxDecoder.Window, big);
    EXPECT_EQ(lzxDecoder.WindowCapacity, 2097152u);
    EXPECT_EQ(lzxDecoder.WindowSize, 65536u);
}

TEST(LzxSetUp, ALentWindowHoldsTheOutputAndStaysTheCallers)
{
    // Two records at once; one decodes in place in the caller's window.
    LzxDecoder own {}, lent {};
    std::vector<uint8_t> window(32768, 0xAA), data = {1, 2, 3, 4, 5, 6, 7};
    StreamWriter s;
    s.Header().Uncompressed(data);
    ASSERT_EQ(InitLzxWithWindow(&lent, 15, window.data()), LzxOk);
    ASSERT_EQ(InitLzx(&own, 15), LzxOk);
    std::vector<uint8_t> out(data.size());
    ASSERT_EQ(DecodeLzx(&own, s.bytes.data(), out.data(), (int32_t)s.bytes.size(), 7), LzxOk);
    ASSERT_EQ(DecodeLzx(&lent, s.bytes.data(), window.data(), (int32_t)s.bytes.size(), 7), LzxOk);
    EXPECT_EQ(out, data);
    EXPECT_EQ(std::vector<uint8_t>(window.begin(), window.begin() + 7), data);
    EXPECT_EQ(lent.InputUsed, s.bytes.size());
    // InitLzx gives the record a window of its own; the lent one is never freed.
    ASSERT_EQ(InitLzx(&lent, 15), LzxOk);
    EXPECT_NE(lent.Window, window.data());
    ReleaseLzx(&lent);
    ReleaseLzx(&own);
    EXPECT_EQ(window[7], 0xAA);
}

TEST(LzxSetUp, MainElementsPerWindowSize)
{
    const uint16_t expected[] = {496, 512, 528, 544, 560, 592, 656};
    for (int bits = 15; bits <= 21; bits++) {
        ASSERT_EQ(InitLzxDecoder(bits), LzxOk);
        EXPECT_EQ(lzxDecoder.MainElements, expected[bits - 15]) << bits;
        EXPECT_EQ(lzxDecoder.WindowSize, 1u << bits);
    }
}

TEST(LzxSetUp, SlotTables)
{
    ASSERT_EQ(InitLzxDecoder(15), LzxOk);
    EXPECT_EQ(ExtraBits[3], 0);
    EXPECT_EQ(ExtraBits[4], 1);
    EXPECT_EQ(ExtraBits[35], 16);
    EXPECT_EQ(ExtraBits[36], 17);
    EXPECT_EQ(ExtraBits[50], 17);
    const uint32_t start[] = {0, 1, 2, 3, 4, 6, 8, 12, 16, 24, 32, 48, 64};
    for (int i = 0; i < 13; i++) {
        EXPECT_EQ(PositionBase[i], start[i]) << i;
    }
    EXPECT_EQ(PositionBase[30], 32768u);
    EXPECT_EQ(PositionBase[36], 262144u);
    EXPECT_EQ(PositionBase[49], 1966080u);
    EXPECT_EQ(PositionBase[50], 2097152u);
}

TEST(LzxSetUp, StartsCleanAfterAFailedStream)
{
    ASSERT_EQ(InitLzxDecoder(17), LzxOk);
    // A verbatim block whose pre-tree is a single 1-bit code fails halfway,
    // after an uncompressed block moved the offsets and the position.
    StreamWriter s;
    s.Header().Uncompressed({9, 9, 9, 9}, 7, 8, 9).BlockHeader(1, 100);
    s.Bits(1, 4);
    for (int i = 1; i < 20; i++) {
        s.Bits(0, 4);
    }
    s.Align();
    std::vector<uint8_t> out(104);
    EXPECT_EQ(DecompressLzx(s.bytes.data(), out.data(), (int32_t)s.bytes.size(), 104),
              LzxIllegalData);
    for (int i = 0; i < LzxMainTreeSymbols; i++) {
        lzxDecoder.MainTreeLengths[i] = 5;
    }
    for (int i = 0; i < LzxLengthTreeSymbols; i++) {
        lzxDecoder.LengthTreeLengths[i] = 5;
    }
    ASSERT_EQ(InitLzxDecoder(17), LzxOk);
    EXPECT_EQ(lzxDecoder.R0, 1u);
    EXPECT_EQ(lzxDecoder.R1, 1u);
    EXPECT_EQ(lzxDecoder.R2, 1u);
    EXPECT_EQ(lzxDecoder.WindowPosition, 0u);
    EXPECT_EQ(lzxDecoder.HeaderRead, 0);
    EXPECT_EQ(lzxDecoder.BlockType, 0);
    EXPECT_EQ(lzxDecoder.BlockRemaining, 0);
    EXPECT_EQ(lzxDecoder.DecodeCalls, 0u);
    EXPECT_EQ(lzxDecoder.TranslationSeen, 0);
    for (int i = 0; i < LzxMainTreeSymbols; i++) {
        ASSERT_EQ(lzxDecoder.MainTreeLengths[i], 0) << i;
    }
    for (int i = 0; i < LzxLengthTreeSymbols; i++) {
        ASSERT_EQ(lzxDecoder.LengthTreeLengths[i], 0) << i;
    }
}

}  // namespace
