// The shared corpus: where it is, its manifests, and the sha256 that the
// manifests list.
#include "corpus.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "container/container.h"

#ifndef VELKORY_SOURCE_DIR
#define VELKORY_SOURCE_DIR "."
#endif

std::string SharedDir()
{
    std::error_code error;
    const char* overridden = getenv("VELKORY_SHARED");
    std::string dir = overridden && *overridden ? overridden : VELKORY_SOURCE_DIR "/../shared";
    return std::filesystem::is_directory(dir, error) ? dir : std::string();
}

std::vector<ManifestEntry> ReadManifest(const std::string& path)
{
    std::vector<ManifestEntry> entries;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        // name TAB section TAB length TAB sha256; the name is split off from the
        // right so that a name may itself hold a tab.
        size_t third = line.rfind('\t');
        size_t second = third == std::string::npos || third == 0 ? std::string::npos
                                                                 : line.rfind('\t', third - 1);
        size_t first = second == std::string::npos || second == 0 ? std::string::npos
                                                                  : line.rfind('\t', second - 1);
        if (first == std::string::npos)
            continue;
        ManifestEntry entry;
        entry.name = line.substr(0, first);
        entry.section = (uint32_t)std::stoul(line.substr(first + 1, second - first - 1));
        entry.length = (uint32_t)std::stoul(line.substr(second + 1, third - second - 1));
        entry.sha256 = line.substr(third + 1);
        entries.push_back(entry);
    }
    return entries;
}

static std::vector<std::string> ChmFilesIn(const std::string& sub)
{
    std::vector<std::string> files;
    std::string shared = SharedDir();
    if (shared.empty())
        return files;
    std::error_code error;
    std::filesystem::path dir = std::filesystem::path(shared) / "corpus" / sub;
    for (const auto& item : std::filesystem::directory_iterator(dir, error)) {
        if (item.path().extension() == ".chm")
            files.push_back(item.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> CorpusHelpFiles()
{
    return ChmFilesIn("chm");
}

std::vector<std::string> MalformedHelpFiles()
{
    return ChmFilesIn("malformed");
}

namespace {

const uint32_t RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline uint32_t Rotate(uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}

void CompressBlock(uint32_t state[8], const uint8_t* block)
{
    uint32_t w[64];
    for (int i = 0; i < 16; i++)
        w[i] = ((uint32_t)block[4 * i] << 24) | ((uint32_t)block[4 * i + 1] << 16) |
            ((uint32_t)block[4 * i + 2] << 8) | block[4 * i + 3];
    for (int i = 16; i < 64; i++) {
        uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; i++) {
        uint32_t t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) +
            RoundConstants[i] + w[i];
        uint32_t t2 =
            (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

}  // namespace

std::string Sha256Hex(const void* data, size_t size)
{
    uint32_t state[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    const uint8_t* bytes = (const uint8_t*)data;
    size_t whole = size / 64 * 64;
    for (size_t i = 0; i < whole; i += 64)
        CompressBlock(state, bytes + i);
    uint8_t tail[128] = {0};
    size_t rest = size - whole;
    if (rest)
        std::copy(bytes + whole, bytes + size, tail);
    tail[rest] = 0x80;
    size_t tailLength = rest < 56 ? 64 : 128;
    uint64_t bitLength = (uint64_t)size * 8;
    for (int i = 0; i < 8; i++)
        tail[tailLength - 1 - i] = (uint8_t)(bitLength >> (8 * i));
    for (size_t i = 0; i < tailLength; i += 64)
        CompressBlock(state, tail + i);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (uint32_t word : state)
        for (int shift = 28; shift >= 0; shift -= 4)
            out.push_back(hex[(word >> shift) & 0xF]);
    return out;
}

std::vector<uint8_t> StoredBytes(HelpFile* file, const char* name, bool* ok)
{
    uint32_t length = 0;
    uint8_t* data = nullptr;
    if (ExtractFile(file, name, &length, &data) != 0) {
        if (ok)
            *ok = false;
        return {};
    }
    std::vector<uint8_t> bytes(data, data + length);
    free(data);
    return bytes;
}
