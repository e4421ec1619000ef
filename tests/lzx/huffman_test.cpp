// Bit reader, decode tables and the pre-tree coding of code lengths.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "lzx/lzx.h"
#include "stream_writer.h"

namespace {

TEST(LzxBitReader, WordsAreLittleEndianMostSignificantBitFirst)
{
    const uint8_t input[] = {0x34, 0x12, 0x78, 0x56};
    BitReader r;
    InitBitReader(&r, input, input + 4);
    EXPECT_EQ(GetBits(&r, 4), 0x1u);
    EXPECT_EQ(GetBits(&r, 16), 0x2345u);
    EXPECT_EQ(r.BitCount, 12);
    EXPECT_EQ(r.Cursor, input + 4);
    EXPECT_EQ(GetBits(&r, 12), 0x678u);
}

TEST(LzxBitReader, PastTheEndReadsZerosAndKeepsCounting)
{
    // The one byte of a half word, then nothing: the reader sees zeros but
    // its position advances word by word.
    std::vector<uint8_t> input = {0xFF, 0xFF, 0xAB};
    BitReader r;
    InitBitReader(&r, input.data(), input.data() + input.size());
    EXPECT_EQ(GetBits(&r, 16), 0xFFFFu);
    EXPECT_EQ(GetBits(&r, 16), 0x00ABu);
    EXPECT_EQ(GetBits(&r, 17), 0u);
    EXPECT_EQ(r.Cursor, input.data() + 8);
    EXPECT_EQ(r.BitCount, 15);
}

// A table with guard entries around it, to see that nothing outside is touched.
struct GuardedTable {
    std::vector<uint16_t> storage;
    int entries;
    explicit GuardedTable(int n)
        : storage(n + 128, 0xBEEF)
        , entries(n)
    {
    }
    uint16_t* table()
    {
        return storage.data() + 64;
    }
    bool GuardsIntact() const
    {
        for (int i = 0; i < 64; i++) {
            if (storage[i] != 0xBEEF || storage[64 + entries + i] != 0xBEEF) {
                return false;
            }
        }
        return true;
    }
};

int Build(int symbols, int bits, const std::vector<uint8_t>& lengths, GuardedTable& t)
{
    return BuildDecodeTable(symbols, bits, lengths.data(), t.table());
}

TEST(LzxDecodeTable, EmptyCompleteAndBrokenCodes)
{
    GuardedTable t(104);
    std::vector<uint8_t> lengths(84, 0);
    EXPECT_EQ(Build(20, 6, lengths, t), 0);
    for (int i = 0; i < 64; i++) {
        EXPECT_EQ(t.table()[i], 0);
    }
    // All zero: symbol 0 with no bits consumed.
    const uint8_t input[] = {0xFF, 0xFF};
    BitReader r;
    InitBitReader(&r, input, input + 2);
    EXPECT_EQ(DecodeSymbol(t.table(), 20, 6, lengths.data(), &r), 0);
    EXPECT_EQ(r.BitCount, 16);

    lengths[5] = 1;  // half the code space
    EXPECT_EQ(Build(20, 6, lengths, t), 1);
    lengths[9] = 1;  // two 1-bit codes: lower symbol first
    EXPECT_EQ(Build(20, 6, lengths, t), 0);
    for (int i = 0; i < 64; i++) {
        EXPECT_EQ(t.table()[i], i < 32 ? 5 : 9);
    }
    lengths[11] = 1;  // over-full
    EXPECT_EQ(Build(20, 6, lengths, t), 1);
    EXPECT_TRUE(t.GuardsIntact());
}

TEST(LzxDecodeTable, CanonicalCodesInOrder)
{
    GuardedTable t(104);
    std::vector<uint8_t> lengths(84, 0);
    lengths[0] = 1;
    lengths[1] = 2;
    lengths[2] = 3;
    lengths[3] = 3;
    ASSERT_EQ(Build(20, 6, lengths, t), 0);
    // Codes 0, 10, 110, 111 followed by filler bits.
    StreamWriter s;
    s.Bits(0b0, 1).Bits(0b10, 2).Bits(0b110, 3).Bits(0b111, 3).Bits(0, 23);
    BitReader r;
    InitBitReader(&r, s.bytes.data(), s.bytes.data() + s.bytes.size());
    for (int expected : {0, 1, 2, 3}) {
        EXPECT_EQ(DecodeSymbol(t.table(), 20, 6, lengths.data(), &r), expected);
    }
    EXPECT_EQ(r.BitCount, 32 - 9);  // each decode asks for 16 bits first
}

TEST(LzxDecodeTable, LongCodesHangBelowTheDirectPart)
{
    // Main tree: symbol k has a code of k + 1 bits (k ones, then a zero), the
    // last two 16 bits; codes of 13 bits and more hang below entry 4095.
    std::vector<uint8_t> lengths(720, 0);
    for (int l = 1; l <= 15; l++) {
        lengths[l - 1] = (uint8_t)l;
    }
    lengths[15] = 16;
    lengths[16] = 16;
    std::vector<uint16_t> table(5408 + 64, 0xBEEF);
    ASSERT_EQ(BuildDecodeTable(656, 12, lengths.data(), table.data()), 0);
    EXPECT_EQ(table[4095], 2048);  // code 111111111111 leads to the first node
    EXPECT_EQ(table[4096], 12);    // 1111111111110: symbol 12 (13 bits)
    EXPECT_EQ(table[4097], 2049);
    for (int i = 5408; i < 5408 + 64; i++) {
        ASSERT_EQ(table[i], 0xBEEF);
    }
    // Decode the two 16-bit codes and a 13-bit one.
    StreamWriter s;
    s.Bits(0xFFFE, 16).Bits(0xFFFF, 16).Bits(0x1FFE, 13).Bits(0, 19);
    BitReader r;
    InitBitReader(&r, s.bytes.data(), s.bytes.data() + s.bytes.size());
    EXPECT_EQ(DecodeSymbol(table.data(), 656, 12, lengths.data(), &r), 15);
    EXPECT_EQ(DecodeSymbol(table.data(), 656, 12, lengths.data(), &r), 16);
    EXPECT_EQ(DecodeSymbol(table.data(), 656, 12, lengths.data(), &r), 12);
}

TEST(LzxDecodeTable, NeverWritesOutsideWhateverTheLengths)
{
    GuardedTable pre(104);
    std::vector<uint8_t> lengths(84, 15);
    EXPECT_EQ(Build(20, 6, lengths, pre), 1);  // twenty 15-bit codes
    EXPECT_TRUE(pre.GuardsIntact());

    std::mt19937 rng(7);
    const int trees[4][2] = {{20, 6}, {656, 12}, {250, 12}, {8, 7}};
    for (int round = 0; round < 400; round++) {
        const int symbols = trees[round % 4][0], bits = trees[round % 4][1];
        GuardedTable t((1 << bits) + 2 * symbols);
        std::vector<uint8_t> random(symbols + 64);
        int maxLength = 1 + (int)(rng() % 17);
        for (uint8_t& l : random) {
            l = (uint8_t)(rng() % 3 == 0 ? 0 : rng() % (maxLength + 1));
        }
        Build(symbols, bits, random, t);
        ASSERT_TRUE(t.GuardsIntact()) << round;
    }
}

// Writes a pre-tree in which symbols 0..19 all have 5-bit codes except the
// ones given a length below; returns the code of each symbol.
struct PreTree {
    uint8_t lengths[20];
    uint32_t codes[20];
    PreTree()
    {
        // Sixteen 5-bit codes (symbols 4..19) and four 3-bit codes (0..3)
        // fill the code space exactly: 4 x 1/8 + 16 x 1/32 = 1.
        for (int i = 0; i < 20; i++) {
            lengths[i] = i < 4 ? 3 : 5;
        }
        uint32_t code = 0;
        for (int l = 1; l <= 16; l++) {
            for (int s = 0; s < 20; s++) {
                if (lengths[s] == l) {
                    codes[s] = code++;
                }
            }
            code <<= 1;
        }
    }
    void Write(StreamWriter& s) const
    {
        for (int i = 0; i < 20; i++) {
            s.Bits(lengths[i], 4);
        }
    }
    void Symbol(StreamWriter& s, int z) const
    {
        s.Bits(codes[z], lengths[z]);
    }
};

int ReadLengths(const StreamWriter& stream, uint8_t* lengths, uint32_t first, uint32_t last,
                BitReader* r)
{
    InitBitReader(r, stream.bytes.data(), stream.bytes.data() + stream.bytes.size());
    return ReadCodeLengths(&lzxDecoder, lengths, first, last, r);
}

TEST(LzxCodeLengths, RunsAndDifferences)
{
    ASSERT_EQ(InitLzxDecoder(15), LzxOk);
    PreTree p;
    StreamWriter s;
    p.Write(s);
    p.Symbol(s, 5);   // entry 0: previous 3 -> (3 - 5) + 17 = 15
    p.Symbol(s, 16);  // entry 1: previous 16 -> 0
    p.Symbol(s, 17);  // entries 2..20: 15 + 4 zeros
    s.Bits(15, 4);
    p.Symbol(s, 19);  // entries 21..25: run of 5, difference 2 over previous 1 -> 16
    s.Bits(1, 1);
    p.Symbol(s, 2);
    p.Symbol(s, 18);  // entries 26..76: 31 + 20 zeros, passing last (40)
    s.Bits(31, 5);
    s.Bits(0, 32);
    std::vector<uint8_t> lengths(104, 7);
    lengths[0] = 3;
    lengths[1] = 16;
    lengths[21] = 1;
    BitReader r;
    ASSERT_EQ(ReadLengths(s, lengths.data(), 0, 40, &r), LzxOk);
    EXPECT_EQ(lengths[0], 15);
    EXPECT_EQ(lengths[1], 0);
    for (int i = 2; i <= 20; i++) {
        EXPECT_EQ(lengths[i], 0) << i;
    }
    for (int i = 21; i <= 25; i++) {
        EXPECT_EQ(lengths[i], 16) << i;
    }
    for (int i = 26; i <= 76; i++) {
        EXPECT_EQ(lengths[i], 0) << i;
    }
    EXPECT_EQ(lengths[77], 7);
    // The reader stands right after the last code read.
    int used = 80 + 5 + 5 + (5 + 4) + (5 + 1 + 3) + (5 + 5);
    EXPECT_EQ(16 * (int)((r.Cursor - s.bytes.data()) / 2) - r.BitCount, used);
}

TEST(LzxCodeLengths, BrokenPreTreeFails)
{
    ASSERT_EQ(InitLzxDecoder(15), LzxOk);
    StreamWriter s;
    for (int i = 0; i < 20; i++) {
        s.Bits(15, 4);  // twenty 15-bit codes: incomplete
    }
    s.Bits(0, 16);
    std::vector<uint8_t> lengths(104, 0);
    BitReader r;
    EXPECT_EQ(ReadLengths(s, lengths.data(), 0, 40, &r), LzxIllegalData);
}

}  // namespace
