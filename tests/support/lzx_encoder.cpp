// Test-side LZX encoder (see lzx_encoder.h). Greedy matching over hash
// chains, canonical Huffman codes limited in length, code lengths sent
// through the pre-tree as differences with run-length codes.
#include "lzx_encoder.h"

#include <algorithm>
#include <cstring>
#include <queue>
#include <utility>

namespace {

const int kMainSymbols = 656;
const int kLengthSymbols = 250;
const int kMinMatch = 2;
const int kMaxMatch = 257;

struct PositionTables {
    uint32_t base[51];
    int extra[51];
    PositionTables()
    {
        uint32_t sum = 0;
        for (int s = 0; s < 51; s++) {
            int e = s < 4 ? 0 : std::min(s / 2 - 1, 17);
            extra[s] = e;
            base[s] = sum;
            sum += 1u << e;
        }
    }
};
const PositionTables kSlots;

int SlotCount(int bits)
{
    return bits == 20 ? 42 : bits == 21 ? 50 : 2 * bits;
}

// Bits go into 16-bit little-endian words, most significant bit first.
struct BitWriter {
    std::vector<uint8_t> out;
    uint32_t word = 0;
    int used = 0;  // bits already in word

    void Put(uint32_t value, int bits)
    {
        while (bits > 0) {
            int take = std::min(bits, 16 - used);
            uint32_t part = (value >> (bits - take)) & ((1u << take) - 1);
            word = (word << take) | part;
            used += take;
            bits -= take;
            if (used == 16) {
                out.push_back((uint8_t)word);
                out.push_back((uint8_t)(word >> 8));
                word = 0;
                used = 0;
            }
        }
    }
    // Pads the current word with zero bits (nothing when on a boundary).
    void Align()
    {
        if (used != 0) {
            Put(0, 16 - used);
        }
    }
    void Byte(uint8_t b)
    {
        out.push_back(b);
    }
    void Le32(uint32_t v)
    {
        for (int i = 0; i < 4; i++) {
            out.push_back((uint8_t)(v >> (8 * i)));
        }
    }
};

// Huffman code lengths for freq, none longer than maxLength. Symbols of
// frequency 0 get no code. At least two symbols must have a frequency.
std::vector<uint8_t> CodeLengths(std::vector<uint32_t> freq, int maxLength)
{
    const int n = (int)freq.size();
    std::vector<uint8_t> lengths(n, 0);
    for (;;) {
        typedef std::pair<uint64_t, int> Item;
        std::priority_queue<Item, std::vector<Item>, std::greater<Item>> heap;
        std::vector<int> parent(2 * n, -1);
        for (int s = 0; s < n; s++) {
            if (freq[s] != 0) {
                heap.push(Item(freq[s], s));
            }
        }
        int next = n;
        while (heap.size() > 1) {
            Item a = heap.top();
            heap.pop();
            Item b = heap.top();
            heap.pop();
            parent[a.second] = next;
            parent[b.second] = next;
            heap.push(Item(a.first + b.first, next));
            next++;
        }
        int longest = 0;
        for (int s = 0; s < n; s++) {
            int depth = 0;
            if (freq[s] != 0) {
                for (int p = parent[s]; p != -1; p = parent[p]) {
                    depth++;
                }
            }
            lengths[s] = (uint8_t)depth;
            longest = std::max(longest, depth);
        }
        if (longest <= maxLength) {
            return lengths;
        }
        for (uint32_t& f : freq) {
            if (f != 0) {
                f = (f + 1) / 2;
            }
        }
    }
}

// Makes sure at least two symbols have a code, so that the code is complete.
void AtLeastTwo(std::vector<uint32_t>& freq)
{
    int used = 0;
    for (uint32_t f : freq) {
        used += f != 0;
    }
    for (size_t s = 0; used < 2 && s < freq.size(); s++) {
        if (freq[s] == 0) {
            freq[s] = 1;
            used++;
        }
    }
}

// Canonical codes: by increasing length, then by increasing symbol.
std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths)
{
    std::vector<uint32_t> codes(lengths.size(), 0);
    uint32_t code = 0;
    for (int l = 1; l <= 16; l++) {
        for (size_t s = 0; s < lengths.size(); s++) {
            if (lengths[s] == l) {
                codes[s] = code++;
            }
        }
        code <<= 1;
    }
    return codes;
}

struct PreToken {
    int symbol;
    int extraBits;
    uint32_t extra;
    int second;  // the difference symbol after 19, else -1
};

// Writes the lengths of symbols first..last-1 through a fresh pre-tree, as
// differences from previous (which is updated to the new lengths).
void WriteLengths(BitWriter& w, const std::vector<uint8_t>& lengths, std::vector<uint8_t>& previous,
                  int first, int last)
{
    std::vector<PreToken> tokens;
    int x = first;
    while (x < last) {
        int run = 1;
        while (x + run < last && lengths[x + run] == lengths[x]) {
            run++;
        }
        if (lengths[x] == 0 && run >= 20) {
            int n = std::min(run, 51);
            tokens.push_back({18, 5, (uint32_t)(n - 20), -1});
            x += n;
        } else if (lengths[x] == 0 && run >= 4) {
            int n = std::min(run, 19);
            tokens.push_back({17, 4, (uint32_t)(n - 4), -1});
            x += n;
        } else if (run >= 4) {
            int n = std::min(run, 5);
            int diff = (previous[x] - lengths[x] + 17) % 17;
            tokens.push_back({19, 1, (uint32_t)(n - 4), diff});
            x += n;
        } else {
            int diff = (previous[x] - lengths[x] + 17) % 17;
            tokens.push_back({diff, 0, 0, -1});
            x++;
        }
    }
    std::vector<uint32_t> freq(20, 0);
    for (const PreToken& t : tokens) {
        freq[t.symbol]++;
        if (t.second >= 0) {
            freq[t.second]++;
        }
    }
    AtLeastTwo(freq);
    std::vector<uint8_t> preLengths = CodeLengths(freq, 15);
    std::vector<uint32_t> preCodes = CanonicalCodes(preLengths);
    for (int i = 0; i < 20; i++) {
        w.Put(preLengths[i], 4);
    }
    for (const PreToken& t : tokens) {
        w.Put(preCodes[t.symbol], preLengths[t.symbol]);
        if (t.extraBits != 0) {
            w.Put(t.extra, t.extraBits);
        }
        if (t.second >= 0) {
            w.Put(preCodes[t.second], preLengths[t.second]);
        }
    }
    for (int i = first; i < last; i++) {
        previous[i] = lengths[i];
    }
}

struct Token {
    uint32_t length;  // 0: literal
    uint32_t value;   // literal byte, or match offset
    int slot;         // position slot of a match
};

struct Encoder {
    const std::vector<uint8_t>& data;
    int bits;
    uint32_t windowSize;
    uint32_t maxOffset;
    const LzxEncodeOptions& options;
    BitWriter w;
    uint32_t r[3] = {1, 1, 1};
    std::vector<uint8_t> mainPrevious = std::vector<uint8_t>(kMainSymbols, 0);
    std::vector<uint8_t> lengthPrevious = std::vector<uint8_t>(kLengthSymbols, 0);
    bool headerWritten = false;
    int hashBits = 12;  // grows with the data, up to 20 bits
    std::vector<int32_t> head;
    std::vector<int32_t> chain;
    size_t hashed = 0;  // positions below this are in the hash chains

    Encoder(const std::vector<uint8_t>& d, int b, const LzxEncodeOptions& o)
        : data(d)
        , bits(b)
        , windowSize(1u << b)
        , options(o)
        , chain(d.size(), -1)
    {
        while (hashBits < 20 && ((size_t)1 << hashBits) < d.size()) {
            hashBits++;
        }
        head.assign((size_t)1 << hashBits, -1);
        maxOffset = windowSize - 3;
        if (options.maxOffset != 0 && options.maxOffset < maxOffset) {
            maxOffset = options.maxOffset;
        }
    }

    uint32_t Hash(size_t p) const
    {
        uint32_t v = data[p] | (data[p + 1] << 8) | (data[p + 2] << 16);
        return (v * 2654435761u) >> (32 - hashBits);
    }
    void Insert(size_t upTo)
    {
        for (; hashed < upTo && hashed + 3 <= data.size(); hashed++) {
            uint32_t h = Hash(hashed);
            chain[hashed] = head[h];
            head[h] = (int32_t)hashed;
        }
    }
    uint32_t MatchLength(size_t p, uint32_t offset, size_t limit) const
    {
        if (offset == 0 || offset > p || offset > maxOffset) {
            return 0;
        }
        uint32_t n = 0;
        while (p + n < limit && n < (uint32_t)kMaxMatch && data[p + n] == data[p + n - offset]) {
            n++;
        }
        return n;
    }

    // Tokens for data[p..end), updating the repeated offsets as the decoder will.
    std::vector<Token> Tokenize(size_t p, size_t end)
    {
        std::vector<Token> tokens;
        while (p < end) {
            Insert(p);
            uint32_t bestLength = 0, bestOffset = 0;
            int bestRep = -1;
            if (options.matches) {
                if (options.repeatedOffsets) {
                    for (int i = 0; i < 3; i++) {
                        uint32_t n = MatchLength(p, r[i], end);
                        if (n >= (uint32_t)kMinMatch && n > bestLength) {
                            bestLength = n;
                            bestOffset = r[i];
                            bestRep = i;
                        }
                    }
                }
                if (p + 3 <= data.size()) {
                    int32_t candidate = head[Hash(p)];
                    for (int depth = 0; candidate >= 0 && depth < 16;
                         depth++, candidate = chain[candidate]) {
                        uint32_t offset = (uint32_t)(p - (size_t)candidate);
                        if (offset > maxOffset) {
                            break;
                        }
                        uint32_t n = MatchLength(p, offset, end);
                        if (n >= 3 && n > bestLength + (bestRep >= 0 ? 1 : 0)) {
                            bestLength = n;
                            bestOffset = offset;
                            bestRep = -1;
                        }
                    }
                }
            }
            if (bestLength >= (uint32_t)kMinMatch) {
                Token t;
                t.length = bestLength;
                t.value = bestOffset;
                if (bestRep == 0) {
                    t.slot = 0;
                } else if (bestRep == 1) {
                    t.slot = 1;
                    std::swap(r[0], r[1]);
                } else if (bestRep == 2) {
                    t.slot = 2;
                    std::swap(r[0], r[2]);
                } else {
                    uint32_t formatted = bestOffset + 2;
                    int slot = 3;
                    while (slot + 1 < 51 && kSlots.base[slot + 1] <= formatted) {
                        slot++;
                    }
                    t.slot = slot;
                    r[2] = r[1];
                    r[1] = r[0];
                    r[0] = bestOffset;
                }
                tokens.push_back(t);
                p += bestLength;
            } else {
                tokens.push_back(Token {0, data[p], 0});
                p++;
            }
        }
        return tokens;
    }

    void StreamHeader()
    {
        if (options.e8) {
            w.Put(1, 1);
            w.Put((uint32_t)options.translationSize >> 16, 16);
            w.Put((uint32_t)options.translationSize & 0xFFFF, 16);
        } else {
            w.Put(0, 1);
        }
        headerWritten = true;
    }

    size_t nextFrame = 0;
    // Records the frames that begin at or before output position q.
    void Frames(size_t q, size_t limit)
    {
        while (options.frameStarts && nextFrame <= q && nextFrame < limit) {
            options.frameStarts->push_back(w.out.size());
            nextFrame += 32768;
        }
    }

    void Block(int type, size_t p, size_t end, uint32_t declared)
    {
        // A block that begins with the window exactly full restarts the stream.
        if (p > 0 && p % windowSize == 0) {
            headerWritten = false;
            std::fill(mainPrevious.begin(), mainPrevious.end(), 0);
            std::fill(lengthPrevious.begin(), lengthPrevious.end(), 0);
            r[0] = r[1] = r[2] = 1;
        }
        if (!headerWritten) {
            StreamHeader();
        }
        w.Put((uint32_t)type, 3);
        w.Put(declared >> 8, 16);
        w.Put(declared & 0xFF, 8);
        if (type == 3) {
            if (w.used != 0) {
                w.Align();
            } else {
                w.Put(0, 16);
            }
            for (int i = 0; i < 3; i++) {
                w.Le32(r[i]);
            }
            for (size_t i = p; i < end; i++) {
                Frames(i, end);
                w.Byte(data[i]);
            }
            if ((declared & 1) != 0) {
                w.Byte(0);
            }
            Frames(end, data.size());
            return;
        }
        if (type != 1 && type != 2) {
            return;  // an invalid type: header only
        }
        std::vector<Token> tokens = Tokenize(p, end);
        std::vector<uint32_t> mainFreq(kMainSymbols, 0), lengthFreq(kLengthSymbols, 0),
            alignedFreq(8, 0);
        for (const Token& t : tokens) {
            if (t.length == 0) {
                mainFreq[t.value]++;
                continue;
            }
            uint32_t header = std::min(t.length - 2, 7u);
            mainFreq[256 + 8 * t.slot + header]++;
            if (header == 7) {
                lengthFreq[t.length - 9]++;
            }
            if (type == 2 && t.slot >= 3 && kSlots.extra[t.slot] >= 3) {
                alignedFreq[(t.value + 2 - kSlots.base[t.slot]) & 7]++;
            }
        }
        if (options.e8 && mainFreq[0xE8] == 0) {
            mainFreq[0xE8] = 1;  // the decoder translates only when 0xE8 has a code
        }
        AtLeastTwo(mainFreq);
        int usedLengths = 0;
        for (uint32_t f : lengthFreq) {
            usedLengths += f != 0;
        }
        if (usedLengths == 1) {
            AtLeastTwo(lengthFreq);
        }
        std::vector<uint8_t> mainLengths = CodeLengths(mainFreq, 16);
        std::vector<uint8_t> lengthLengths = usedLengths == 0
            ? std::vector<uint8_t>(kLengthSymbols, 0)
            : CodeLengths(lengthFreq, 16);
        std::vector<uint8_t> alignedLengths(8, 0);
        if (type == 2) {
            AtLeastTwo(alignedFreq);
            alignedLengths = CodeLengths(alignedFreq, 7);
            for (int i = 0; i < 8; i++) {
                w.Put(alignedLengths[i], 3);
            }
        }
        int mainElements = 256 + 8 * SlotCount(bits);
        WriteLengths(w, mainLengths, mainPrevious, 0, 256);
        WriteLengths(w, mainLengths, mainPrevious, 256, mainElements);
        WriteLengths(w, lengthLengths, lengthPrevious, 0, 249);

        std::vector<uint32_t> mainCodes = CanonicalCodes(mainLengths);
        std::vector<uint32_t> lengthCodes = CanonicalCodes(lengthLengths);
        std::vector<uint32_t> alignedCodes = CanonicalCodes(alignedLengths);
        size_t q = p;
        for (const Token& t : tokens) {
            if (t.length == 0) {
                w.Put(mainCodes[t.value], mainLengths[t.value]);
                q++;
            } else {
                uint32_t header = std::min(t.length - 2, 7u);
                uint32_t symbol = 256 + 8 * t.slot + header;
                w.Put(mainCodes[symbol], mainLengths[symbol]);
                if (header == 7) {
                    w.Put(lengthCodes[t.length - 9], lengthLengths[t.length - 9]);
                }
                if (t.slot >= 3) {
                    int e = kSlots.extra[t.slot];
                    uint32_t extra = t.value + 2 - kSlots.base[t.slot];
                    if (type == 2 && e >= 3) {
                        if (e > 3) {
                            w.Put(extra >> 3, e - 3);
                        }
                        w.Put(alignedCodes[extra & 7], alignedLengths[extra & 7]);
                    } else if (e > 0) {
                        w.Put(extra, e);
                    }
                }
                q += t.length;
            }
            // The decoder realigns to a word whenever a literal or match ends
            // on a multiple of 32768 window bytes.
            if (q % 32768 == 0) {
                w.Align();
            }
            Frames(q, data.size());
        }
    }

    std::vector<uint8_t> Run()
    {
        const size_t n = data.size();
        size_t p = 0;
        size_t index = 0;
        size_t zerosInARow = 0;
        const std::vector<uint32_t>& sizes =
            options.blockSizes.empty() ? std::vector<uint32_t> {32768} : options.blockSizes;
        const std::vector<int>& types =
            options.blockTypes.empty() ? std::vector<int> {1} : options.blockTypes;
        Frames(0, n);
        if (n == 0) {
            Block(types[0], 0, 0, 0);
        }
        while (p < n) {
            uint32_t size = sizes[index % sizes.size()];
            int type = types[index % types.size()];
            index++;
            if (size == 0) {
                if (++zerosInARow > sizes.size()) {
                    size = 32768;  // every size is 0: go on in 32768-byte blocks
                }
            } else {
                zerosInARow = 0;
            }
            size_t end = std::min(n, p + size);
            if (options.alignBlocksToWindow) {
                size_t windowEnd = (p / windowSize + 1) * windowSize;
                end = std::min(end, windowEnd);
            }
            uint32_t declared = (uint32_t)(end - p);
            if (end == n && options.lastBlockDeclaredLength > declared) {
                declared = options.lastBlockDeclaredLength;
            }
            Block(type, p, end, declared);
            p = end;
        }
        w.Align();
        return w.out;
    }
};

}  // namespace

void LzxE8Encode(std::vector<uint8_t>& data, int32_t translationSize)
{
    if (data.size() <= 10 || translationSize == 0) {
        return;
    }
    const int64_t size = translationSize;
    const size_t limit = data.size() - 10;
    size_t i = 0;
    while (i < limit) {
        if (data[i] != 0xE8) {
            i++;
            continue;
        }
        int64_t pos = (int64_t)i;
        uint8_t* operand = &data[i + 1];
        int64_t value = (int32_t)((uint32_t)operand[0] | ((uint32_t)operand[1] << 8) |
                                  ((uint32_t)operand[2] << 16) | ((uint32_t)operand[3] << 24));
        // The decoder maps a stored a in [-pos, size) to a - pos (a >= 0) or
        // a + size (a < 0); this is its inverse.
        if (value >= -pos && value < size) {
            int64_t stored = value < size - pos ? value + pos : value - size;
            uint32_t s = (uint32_t)stored;
            for (int k = 0; k < 4; k++) {
                operand[k] = (uint8_t)(s >> (8 * k));
            }
        }
        i += 5;
    }
}

std::vector<uint8_t> LzxCompress(const std::vector<uint8_t>& input, int windowBits,
                                 const LzxEncodeOptions& options)
{
    if (options.e8) {
        std::vector<uint8_t> translated = input;
        LzxE8Encode(translated, options.translationSize);
        Encoder encoder(translated, windowBits, options);
        return encoder.Run();
    }
    Encoder encoder(input, windowBits, options);
    return encoder.Run();
}
