// The block decoder: uncompressed blocks, block and window boundaries,
// matches, the final run of real help files, E8 translation and the input
// check.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "lzx/lzx.h"
#include "stream_writer.h"
#include "support/lzx_encoder.h"

namespace {

// Decodes into a buffer of exactly length bytes (heap copies of both sides,
// so that ASan sees any access past them).
int Decode(const std::vector<uint8_t>& stream, int bits, size_t length, std::vector<uint8_t>* out,
           bool setUp = true)
{
    if (setUp) {
        EXPECT_EQ(InitLzxDecoder(bits), LzxOk);
    }
    std::vector<uint8_t> input(stream);
    out->assign(length, 0xCC);
    return DecompressLzx(input.empty() ? nullptr : input.data(), length ? out->data() : nullptr,
                         (int32_t)input.size(), (int32_t)length);
}

std::vector<uint8_t> Bytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (uint8_t& b : v) {
        b = (uint8_t)(rng() % 7 == 0 ? 0xE8 : rng());
    }
    return v;
}

TEST(LzxDecode, ZeroOutputReadsNothingAndCountsACall)
{
    ASSERT_EQ(InitLzxDecoder(15), LzxOk);
    EXPECT_EQ(DecompressLzx(nullptr, nullptr, 0, 0), LzxOk);
    EXPECT_EQ(lzxDecoder.DecodeCalls, 1u);
    EXPECT_EQ(lzxDecoder.HeaderRead, 0);
    uint8_t out[1];
    EXPECT_EQ(DecompressLzx(nullptr, out, 0, -1), LzxIllegalData);
    EXPECT_EQ(lzxDecoder.DecodeCalls, 1u);
}

TEST(LzxDecode, UncompressedBlocks)
{
    StreamWriter s;
    s.Header().Uncompressed({'h', 'e', 'l', 'l', 'o'}, 10, 20, 30);
    ASSERT_EQ(s.bytes.size(), 22u);  // 21 bytes and the pad byte after the odd block
    std::vector<uint8_t> out;
    std::vector<uint8_t> exact(s.bytes.begin(), s.bytes.begin() + 21);
    ASSERT_EQ(Decode(exact, 15, 5, &out), LzxOk);
    EXPECT_EQ(std::string(out.begin(), out.end()), "hello");
    EXPECT_EQ(lzxDecoder.R0, 10u);
    EXPECT_EQ(lzxDecoder.R1, 20u);
    EXPECT_EQ(lzxDecoder.R2, 30u);
    EXPECT_EQ(lzxDecoder.WindowPosition, 5u);
    EXPECT_EQ(lzxDecoder.TranslationSeen, 1);

    // After an odd block, the pad byte is skipped and the next header is
    // read from a fresh word.
    s.Uncompressed({'!', '?'});
    ASSERT_EQ(Decode(s.bytes, 15, 7, &out), LzxOk);
    EXPECT_EQ(std::string(out.begin(), out.end()), "hello!?");

    // One data byte short: the run would read past the input.
    std::vector<uint8_t> shortInput(s.bytes.begin(), s.bytes.end() - 1);
    EXPECT_EQ(Decode(shortInput, 15, 7, &out), LzxIllegalData);
    EXPECT_EQ(lzxDecoder.WindowPosition, 0u);  // not written back
    EXPECT_EQ(lzxDecoder.R0, 1u);
}

// An empty verbatim or aligned block whose pre-trees and aligned tree are
// all zero lengths: every tree is empty and every length symbol takes no bits.
void EmptyCompressedBlock(StreamWriter& s, int type)
{
    s.BlockHeader(type, 0);
    if (type == 2) {
        s.Bits(0, 24);
    }
    s.Bits(0, 3 * 80);
}

TEST(LzxDecode, PaddingIsAWholeWordWhenTheHeaderEndsOnABoundary)
{
    // 1 + 267 (verbatim) + 3 x 291 (aligned) + 27 bits = 1168 = 73 words.
    StreamWriter s;
    s.Header();
    EmptyCompressedBlock(s, 1);
    for (int i = 0; i < 3; i++) {
        EmptyCompressedBlock(s, 2);
    }
    s.BlockHeader(3, 3);
    ASSERT_EQ(s.used, 0);
    s.PadWord().Le32(1).Le32(2).Le32(3).Raw({'a', 'b', 'c'});
    std::vector<uint8_t> out;
    ASSERT_EQ(Decode(s.bytes, 15, 3, &out), LzxOk);
    EXPECT_EQ(std::string(out.begin(), out.end()), "abc");
    EXPECT_EQ(lzxDecoder.R2, 3u);
}

TEST(LzxDecode, ARunThatWouldPassTheWindowEndIsBadFormat)
{
    std::vector<uint8_t> data = Bytes(49152 + 32768, 1);
    LzxEncodeOptions o;
    o.blockSizes = {49152, 32768};
    o.alignBlocksToWindow = false;
    for (int type : {1, 3}) {
        o.blockTypes = {type};
        std::vector<uint8_t> out;
        EXPECT_EQ(Decode(LzxCompress(data, 16, o), 16, data.size(), &out), LzxBadFormat) << type;
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + 49152, out.begin()));
    }
}

TEST(LzxDecode, SeveralWindowsRestartAtEachWindowFullBlock)
{
    // Repeating data so that matches reach back across the window's end.
    std::vector<uint8_t> chunk = Bytes(20000, 2);
    std::vector<uint8_t> data;
    while (data.size() < 5 * 32768 + 1234) {
        data.insert(data.end(), chunk.begin(), chunk.end());
        data[data.size() - 1 - data.size() % 977] ^= 0x55;
    }
    data.resize(5 * 32768 + 1234);
    for (int type : {1, 2, 3}) {
        for (bool e8 : {false, true}) {
            LzxEncodeOptions o;
            o.blockTypes = {type, 1};
            o.blockSizes = {12345, 0, 32768, 7};
            o.e8 = e8;
            o.translationSize = 3000000;
            std::vector<uint8_t> out;
            ASSERT_EQ(Decode(LzxCompress(data, 15, o), 15, data.size(), &out), LzxOk) << type << e8;
            EXPECT_TRUE(out == data) << type << e8;
        }
    }
    // The decoder restarts only where the window is exactly full at a block
    // start: a stream that does not restart there is misread.
    LzxEncodeOptions o;
    o.blockSizes = {32768};
    std::vector<uint8_t> first(data.begin(), data.begin() + 32768);
    std::vector<uint8_t> stream = LzxCompress(first, 15, o);
    StreamWriter tail;  // continuing without the new header bit and trees
    tail.BlockHeader(3, 4).PadWord().Le32(1).Le32(1).Le32(1).Raw({1, 2, 3, 4});
    std::vector<uint8_t> joined = stream;
    joined.insert(joined.end(), tail.bytes.begin(), tail.bytes.end());
    std::vector<uint8_t> out;
    int result = Decode(joined, 15, 32768 + 4, &out);
    EXPECT_TRUE(result != LzxOk || !std::equal(out.end() - 4, out.end(), tail.bytes.end() - 4));
}

TEST(LzxDecode, EmptyBlocksKeepTheirTreesAndOffsets)
{
    std::vector<uint8_t> data = Bytes(40000, 3);
    for (size_t i = 1000; i < data.size(); i += 3) {
        data[i] = data[i - 1000];
    }
    LzxEncodeOptions o;
    o.blockTypes = {1, 2, 3, 2};
    o.blockSizes = {0, 999, 0, 1, 0, 4000, 0};
    std::vector<uint8_t> out;
    ASSERT_EQ(Decode(LzxCompress(data, 16, o), 16, data.size(), &out), LzxOk);
    EXPECT_TRUE(out == data);
}

TEST(LzxDecode, MatchesRepeatAndWrap)
{
    // A long run of one byte is a match at offset 1; data longer than the
    // window (literals only at first) makes later matches wrap.
    std::vector<uint8_t> data(100, 'x');
    std::vector<uint8_t> noise = Bytes(32768 - 100, 4);
    data.insert(data.end(), noise.begin(), noise.end());
    data.insert(data.end(), noise.begin(),
                noise.begin() + 5000);  // offset 32668: from the previous window
    LzxEncodeOptions o;
    o.repeatedOffsets = true;
    for (int type : {1, 2}) {
        o.blockTypes = {type};
        std::vector<uint8_t> out;
        ASSERT_EQ(Decode(LzxCompress(data, 15, o), 15, data.size(), &out), LzxOk);
        EXPECT_TRUE(out == data);
    }
    // Literals only: a literal ends exactly at window position 32768, and the
    // bits after it start on a fresh word.
    o.matches = false;
    o.blockSizes = {65536};
    std::vector<uint8_t> out;
    std::vector<uint8_t> big = Bytes(70000, 5);
    ASSERT_EQ(Decode(LzxCompress(big, 17, o), 17, big.size(), &out), LzxOk);
    EXPECT_TRUE(out == big);
}

// An uncompressed block sets R0..R2; the following verbatim block uses them
// through slots 0, 1 and 2.
TEST(LzxDecode, RepeatedOffsetSlots)
{
    std::vector<uint8_t> data = Bytes(300, 6);
    std::vector<uint8_t> tail;
    for (int i = 0; i < 30; i++) {
        for (uint32_t offset : {7u, 100u, 250u}) {
            size_t at = data.size();
            for (int k = 0; k < 5; k++) {
                data.push_back(data[at + k - offset]);
            }
            data.push_back((uint8_t)i);
        }
    }
    LzxEncodeOptions o;
    o.blockTypes = {1, 2};
    o.blockSizes = {300, 10000};
    std::vector<uint8_t> out;
    ASSERT_EQ(Decode(LzxCompress(data, 15, o), 15, data.size(), &out), LzxOk);
    EXPECT_TRUE(out == data);
    EXPECT_EQ(lzxDecoder.WindowPosition, data.size());
}

TEST(LzxDecode, OffsetsOutsideTheWindowAreIllegal)
{
    // Block 1 (uncompressed) sets R0; block 2 uses it for a run of 'a's.
    std::vector<uint8_t> data = Bytes(100, 7);
    data.insert(data.end(), 1000, 'a');
    LzxEncodeOptions o;
    o.blockTypes = {3, 1};
    o.blockSizes = {100, 1000};
    std::vector<uint8_t> stream = LzxCompress(data, 15, o);
    std::vector<uint8_t> out;
    ASSERT_EQ(Decode(stream, 15, data.size(), &out), LzxOk);
    // R0 lies right after the 28-bit headers and their padding, at byte 4.
    stream[4] = 0x40;
    stream[5] = 0x9C;  // 40000 > 32768
    EXPECT_EQ(Decode(stream, 15, data.size(), &out), LzxIllegalData);
    stream[4] = 0x00;
    stream[5] = 0x80;  // 32768: the byte one window back
    EXPECT_EQ(Decode(stream, 15, data.size(), &out), LzxOk);
}

// Real help files declare a last block longer than the section and end with
// a match that runs past the section's end.
TEST(LzxDecode, FinalRunCutByTheBytesOwed)
{
    std::vector<uint8_t> data(33000, 'a');
    data[0] = 'b';
    for (int type : {1, 2}) {
        LzxEncodeOptions o;
        o.blockTypes = {type};
        o.blockSizes = {40000};
        o.alignBlocksToWindow = false;
        std::vector<uint8_t> stream = LzxCompress(data, 15, o);
        // Matches of 257 bytes at offset 1 end at 2 + 257k; the one around
        // 32760 would pass the window's end and is clipped there.
        std::vector<uint8_t> out;
        ASSERT_EQ(Decode(stream, 15, 32760, &out), LzxOk);
        EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin()));
        EXPECT_EQ(lzxDecoder.WindowPosition, 32768u);
        // Cut inside a match that stays inside the window.
        ASSERT_EQ(Decode(stream, 15, 1000, &out), LzxOk);
        EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin()));
    }
    // A declared length beyond the data: decoding stops with the bytes owed.
    std::vector<uint8_t> small = Bytes(5000, 8);
    LzxEncodeOptions o;
    o.blockSizes = {32768};
    o.lastBlockDeclaredLength = 9000;
    std::vector<uint8_t> out;
    ASSERT_EQ(Decode(LzxCompress(small, 15, o), 15, small.size(), &out), LzxOk);
    EXPECT_TRUE(out == small);
}

TEST(LzxDecode, AMatchPastItsBlockEndIsIllegal)
{
    std::vector<uint8_t> data(1000, 'a');
    LzxEncodeOptions o;
    o.blockSizes = {1000};
    std::vector<uint8_t> stream = LzxCompress(data, 15, o);
    // Declare 999 bytes: the last match now ends one byte past its block.
    // The low 8 bits of the length are bits 20..27 of the stream (word 1).
    uint32_t word1 = stream[2] | (stream[3] << 8);
    uint32_t low = (word1 >> 4) & 0xFF;
    ASSERT_EQ(low, 1000u & 0xFF);
    word1 = (word1 & ~0xFF0u) | (((1000u - 1) & 0xFF) << 4);
    stream[2] = (uint8_t)word1;
    stream[3] = (uint8_t)(word1 >> 8);
    std::vector<uint8_t> out;
    EXPECT_EQ(Decode(stream, 15, 999, &out), LzxIllegalData);
    EXPECT_EQ(Decode(stream, 15, 1000, &out), LzxIllegalData);
}

// A stream of one uncompressed block with a translation header.
std::vector<uint8_t> TranslatedStream(const std::vector<uint8_t>& data, int32_t size)
{
    StreamWriter s;
    s.Header(size).Uncompressed(data);
    return s.bytes;
}

void PutLe32(std::vector<uint8_t>& v, size_t at, int32_t value)
{
    for (int i = 0; i < 4; i++) {
        v[at + i] = (uint8_t)((uint32_t)value >> (8 * i));
    }
}

int32_t GetLe32(const std::vector<uint8_t>& v, size_t at)
{
    return (int32_t)(v[at] | (v[at + 1] << 8) | (v[at + 2] << 16) | ((uint32_t)v[at + 3] << 24));
}

TEST(LzxE8, OperandsWithinTheTranslationSize)
{
    // The first 0xE8 byte at output offset 20, TranslationSize 1000.
    const int32_t operands[][2] = {{100, 80},  {-5, 995},  {1000, 1000},
                                   {-21, -21}, {-20, 980}, {999, 979}};
    for (const auto& c : operands) {
        std::vector<uint8_t> data(60, 0);
        data[20] = 0xE8;
        PutLe32(data, 21, c[0]);
        std::vector<uint8_t> out;
        ASSERT_EQ(Decode(TranslatedStream(data, 1000), 15, data.size(), &out), LzxOk);
        EXPECT_EQ(GetLe32(out, 21), c[1]) << c[0];
        EXPECT_EQ(lzxDecoder.TranslationPosition, 60);
    }
}

TEST(LzxE8, TailShortOutputsAndNoHeader)
{
    std::vector<uint8_t> data(40, 0x11);
    data[29] = 0xE8;  // index 29 < 40 - 10: translated
    PutLe32(data, 30, 50);
    data[30 + 4 + 1] = 0xE8;  // index 35: among the last 10 bytes
    PutLe32(data, 36, 50);
    std::vector<uint8_t> out;
    ASSERT_EQ(Decode(TranslatedStream(data, 1000), 15, data.size(), &out), LzxOk);
    EXPECT_EQ(GetLe32(out, 30), 50 - 29);
    EXPECT_EQ(GetLe32(out, 36), 50);

    // Exactly 10 bytes before the end: untranslated.
    std::vector<uint8_t> edge(40, 0x11);
    edge[30] = 0xE8;
    PutLe32(edge, 31, 50);
    ASSERT_EQ(Decode(TranslatedStream(edge, 1000), 15, edge.size(), &out), LzxOk);
    EXPECT_EQ(GetLe32(out, 31), 50);

    std::vector<uint8_t> tiny = {0xE8, 5, 0, 0, 0, 0};
    ASSERT_EQ(Decode(TranslatedStream(tiny, 1000), 15, tiny.size(), &out), LzxOk);
    EXPECT_TRUE(out == tiny);
    EXPECT_EQ(lzxDecoder.TranslationPosition, 6);

    StreamWriter plain;
    plain.Header(0).Uncompressed(data);
    ASSERT_EQ(Decode(plain.bytes, 15, data.size(), &out), LzxOk);
    EXPECT_TRUE(out == data);
    EXPECT_EQ(lzxDecoder.TranslationPosition, 0);
}

TEST(LzxE8, TranslationCountsFromTheCallsOutputPosition)
{
    // Two calls over one stream of two uncompressed blocks: the second call
    // counts positions from where the first ended.
    std::vector<uint8_t> first(30, 0), second(30, 0);
    second[0] = 0xE8;
    PutLe32(second, 1, 100);
    StreamWriter a, b;
    a.Header(1000).Uncompressed(first);
    b.Uncompressed(second);
    ASSERT_EQ(InitLzxDecoder(15), LzxOk);
    std::vector<uint8_t> out(30);
    ASSERT_EQ(DecompressLzx(a.bytes.data(), out.data(), (int32_t)a.bytes.size(), 30), LzxOk);
    ASSERT_EQ(DecompressLzx(b.bytes.data(), out.data(), (int32_t)b.bytes.size(), 30), LzxOk);
    EXPECT_EQ(GetLe32(out, 1), 70);
    EXPECT_EQ(lzxDecoder.DecodeCalls, 2u);
    EXPECT_EQ(lzxDecoder.TranslationPosition, 60);
}

TEST(LzxInputCheck, TheReaderMayStandOneWordPastTheEnd)
{
    // Block header ends exactly on the input's end; the next header is read
    // from beyond it.
    StreamWriter s;
    s.Header().Uncompressed({1, 2, 3, 4});
    s.BlockHeader(3, 2);  // a second block whose header lies past the end
    std::vector<uint8_t> out;
    std::vector<uint8_t> cut(s.bytes.begin(), s.bytes.begin() + 20);
    // The second header reads zeros: block type 0.
    EXPECT_EQ(Decode(cut, 15, 6, &out), LzxIllegalData);
    // A verbatim block with empty trees decodes zeros without reading any
    // more bits: 1 + 27 + 3 x 80 = 268 bits, 17 words. The last pre-tree
    // lookup asked for 16 bits, so the reader stands at word 18.
    StreamWriter t;
    t.Header();
    EmptyCompressedBlock(t, 1);
    t.Align();
    ASSERT_EQ(t.bytes.size(), 34u);
    // The header says 0 bytes; make it 100 (low 8 bits are stream bits 20..27).
    t.bytes[2] = (uint8_t)(t.bytes[2] | (100 << 4));
    t.bytes[3] = (uint8_t)(t.bytes[3] | (100 >> 4));
    ASSERT_EQ(Decode(t.bytes, 15, 100, &out), LzxOk);  // one word past the end, 20 bits buffered
    EXPECT_EQ(out, std::vector<uint8_t>(100, 0));
    std::vector<uint8_t> shorter(t.bytes.begin(), t.bytes.end() - 1);
    EXPECT_EQ(Decode(shorter, 15, 100, &out), LzxIllegalData);  // three bytes past the end
}

}  // namespace
