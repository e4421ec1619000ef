// Test-side ITSF container writer.
//
// Layout of what it writes (all numbers little-endian):
//   0x00  ITSF header, 0x60 bytes: header-section table at 0x38, content
//         offset at 0x58
//   0x60  header section 0, 0x18 bytes (0x01FE, file length)
//   0x78  header section 1: the ITSP directory header (0x54 bytes) and its
//         PMGL listing chunks, chained by their next-chunk fields
//   ...   content section 0: the container's own files (NameList, the
//         compressed section's ControlData, SpanInfo, ResetTable and
//         Content) and the files stored as they are.
#include "chm_writer.h"

#include "lzx_encoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

void PutLE(std::vector<uint8_t>& out, size_t at, uint64_t value, int bytes)
{
    if (out.size() < at + bytes)
        out.resize(at + bytes);
    for (int i = 0; i < bytes; i++)
        out[at + i] = (uint8_t)(value >> (8 * i));
}

void AppendLE(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    PutLE(out, out.size(), value, bytes);
}

void AppendText(std::vector<uint8_t>& out, const char* text)
{
    for (; *text; text++)
        out.push_back((uint8_t)*text);
}

void AppendGuid(std::vector<uint8_t>& out, uint32_t a, uint16_t b, uint16_t c,
                const uint8_t (&d)[8])
{
    AppendLE(out, a, 4);
    AppendLE(out, b, 2);
    AppendLE(out, c, 2);
    out.insert(out.end(), d, d + 8);
}

std::vector<uint8_t> SerializeEntry(const RawEntry& entry)
{
    std::vector<uint8_t> out;
    if (!entry.raw.empty())
        return std::vector<uint8_t>(entry.raw.begin(), entry.raw.end());
    AppendEncodedInt(out, entry.name.size());
    out.insert(out.end(), entry.name.begin(), entry.name.end());
    AppendEncodedInt(out, entry.section);
    AppendEncodedInt(out, entry.offset);
    AppendEncodedInt(out, entry.length);
    return out;
}

std::vector<uint8_t> SerializeChunk(const RawChunk& chunk, size_t index, size_t chunks,
                                    uint32_t chunkSize)
{
    std::vector<uint8_t> area;
    for (const RawEntry& entry : chunk.entries) {
        std::vector<uint8_t> bytes = SerializeEntry(entry);
        area.insert(area.end(), bytes.begin(), bytes.end());
    }
    area.insert(area.end(), chunk.trailing.begin(), chunk.trailing.end());

    std::vector<uint8_t> out;
    AppendText(out, "PMGL");
    int64_t room = (int64_t)chunkSize - 20 - (int64_t)area.size();
    uint32_t freeLength =
        chunk.freeLength >= 0 ? (uint32_t)chunk.freeLength : (uint32_t)std::max<int64_t>(room, 0);
    int64_t previous =
        chunk.previous != -2 ? chunk.previous : (index == 0 ? -1 : (int64_t)index - 1);
    int64_t next = chunk.next != -2 ? chunk.next : (index + 1 == chunks ? -1 : (int64_t)index + 1);
    AppendLE(out, freeLength, 4);
    AppendLE(out, 0, 4);
    AppendLE(out, (uint32_t)previous, 4);
    AppendLE(out, (uint32_t)next, 4);
    out.insert(out.end(), area.begin(), area.end());
    out.resize(std::max<size_t>(chunkSize, 20));
    // The quick-reference area ends with the chunk's entry count.
    if (room >= 2)
        PutLE(out, chunkSize - 2, chunk.entries.size(), 2);
    out.resize(chunkSize);
    return out;
}

std::vector<uint8_t> FileBytes(const std::string& s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

}  // namespace

void AppendEncodedInt(std::vector<uint8_t>& out, uint64_t value)
{
    uint8_t groups[10];
    int n = 0;
    do {
        groups[n++] = (uint8_t)(value & 0x7F);
        value >>= 7;
    } while (value);
    while (n > 1)
        out.push_back(groups[--n] | 0x80);
    out.push_back(groups[0]);
}

std::vector<RawChunk> PackEntries(const std::vector<RawEntry>& entries, uint32_t chunkSize)
{
    std::vector<RawChunk> chunks(1);
    size_t used = 0;
    size_t room = chunkSize > 22 ? chunkSize - 22 : 0;
    for (const RawEntry& entry : entries) {
        size_t size = SerializeEntry(entry).size();
        if (used + size > room && !chunks.back().entries.empty()) {
            chunks.emplace_back();
            used = 0;
        }
        chunks.back().entries.push_back(entry);
        used += size;
    }
    return chunks;
}

RawEntry* FindRawEntry(ContainerLayout& layout, const std::string& name)
{
    for (RawEntry& entry : layout.entries)
        if (entry.name == name)
            return &entry;
    for (RawChunk& chunk : layout.chunks)
        for (RawEntry& entry : chunk.entries)
            if (entry.name == name)
                return &entry;
    return nullptr;
}

std::vector<uint8_t> BuildContainer(const ContainerLayout& layout)
{
    std::vector<RawChunk> chunks =
        layout.chunks.empty() ? PackEntries(layout.entries, layout.chunkSize) : layout.chunks;
    const uint64_t directoryOffset =
        layout.directoryOffset >= 0 ? (uint64_t)layout.directoryOffset : 0x78;
    const uint64_t directoryLength = 0x54 + (uint64_t)chunks.size() * layout.chunkSize;
    const uint64_t contentOffset = layout.contentOffset >= 0 ? (uint64_t)layout.contentOffset
                                                             : directoryOffset + directoryLength;

    std::vector<uint8_t> directory;
    AppendText(directory, "ITSP");
    AppendLE(directory, 1, 4);     // version
    AppendLE(directory, 0x54, 4);  // header length
    AppendLE(directory, 0x0A, 4);
    AppendLE(directory, layout.chunkSize, 4);
    AppendLE(directory, 2, 4);                  // quick-reference density
    AppendLE(directory, 1, 4);                  // index depth: listing chunks only
    AppendLE(directory, 0xFFFFFFFF, 4);         // no root index chunk
    AppendLE(directory, 0, 4);                  // first listing chunk
    AppendLE(directory, chunks.size() - 1, 4);  // last listing chunk
    AppendLE(directory, 0xFFFFFFFF, 4);
    AppendLE(directory, layout.chunkCount >= 0 ? (uint64_t)layout.chunkCount : chunks.size(), 4);
    AppendLE(directory, 0x409, 4);
    AppendGuid(directory, 0x5D02926A, 0x212E, 0x11D0,
               {0x9D, 0xF9, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC});
    AppendLE(directory, 0x54, 4);
    AppendLE(directory, 0xFFFFFFFF, 4);
    AppendLE(directory, 0xFFFFFFFF, 4);
    AppendLE(directory, 0xFFFFFFFF, 4);
    for (size_t i = 0; i < chunks.size(); i++) {
        std::vector<uint8_t> chunk = SerializeChunk(chunks[i], i, chunks.size(), layout.chunkSize);
        directory.insert(directory.end(), chunk.begin(), chunk.end());
    }

    const uint64_t fileLength =
        std::max(directoryOffset + directory.size(), contentOffset + layout.content.size());
    std::vector<uint8_t> out;
    AppendText(out, "ITSF");
    AppendLE(out, 3, 4);     // version
    AppendLE(out, 0x60, 4);  // header length
    AppendLE(out, 1, 4);
    AppendLE(out, 0x5E1C0DE5, 4);  // timestamp
    AppendLE(out, 0x409, 4);       // language
    AppendGuid(out, 0x7C01FD10, 0x7BAA, 0x11D0, {0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC});
    AppendGuid(out, 0x7C01FD11, 0x7BAA, 0x11D0, {0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC});
    AppendLE(out, 0x60, 8);  // header section 0
    AppendLE(out, 0x18, 8);
    AppendLE(out, directoryOffset, 8);  // header section 1: the directory
    AppendLE(out, directoryLength, 8);
    AppendLE(out, contentOffset, 8);
    // Header section 0.
    AppendLE(out, 0x01FE, 4);
    AppendLE(out, 0, 4);
    AppendLE(out, fileLength, 8);
    AppendLE(out, 0, 8);

    out.resize(std::max<uint64_t>(out.size(), fileLength));
    std::copy(directory.begin(), directory.end(), out.begin() + directoryOffset);
    std::copy(layout.content.begin(), layout.content.end(), out.begin() + contentOffset);
    if (layout.truncateTo < out.size())
        out.resize(layout.truncateTo);
    return out;
}

std::vector<uint8_t> LzxUncompressedStream(const std::vector<uint8_t>& data, int windowBits,
                                           std::vector<uint64_t>* resets)
{
    std::vector<uint8_t> out;
    uint32_t bits = 0;
    int count = 0;
    // Bits go most significant first into 16-bit little-endian words.
    auto put = [&](uint32_t value, int n) {
        for (int i = n - 1; i >= 0; i--) {
            bits = (bits << 1) | ((value >> i) & 1);
            if (++count == 16) {
                out.push_back((uint8_t)bits);
                out.push_back((uint8_t)(bits >> 8));
                bits = 0;
                count = 0;
            }
        }
    };
    const uint64_t windowSize = uint64_t(1) << windowBits;
    bool header = true;
    if (resets)
        resets->clear();
    for (size_t position = 0; position < data.size();) {
        uint32_t block = (uint32_t)std::min<size_t>(32768, data.size() - position);
        if (resets)
            resets->push_back(out.size());
        if (header)
            put(0, 1);  // no E8 translation
        header = false;
        put(3, 3);
        put(block >> 8, 16);
        put(block & 0xFF, 8);
        put(0, count == 0 ? 16 : 16 - count);  // padding to the word boundary
        for (int r = 0; r < 3; r++)
            AppendLE(out, 1, 4);  // R0, R1, R2
        out.insert(out.end(), data.begin() + position, data.begin() + position + block);
        if (block & 1)
            out.push_back(0);
        position += block;
        if (position % windowSize == 0)
            header = true;
    }
    return out;
}

std::vector<uint8_t> LzxCompressedStream(const std::vector<uint8_t>& data, int windowBits,
                                         std::vector<uint64_t>* resets)
{
    // Each window is a stream of its own: it starts on a word boundary with a
    // new header bit, trees from zero lengths and repeated offsets 1, which is
    // where the decoder restarts when the window is exactly full. The reset
    // table lists every 32768-byte frame, as real help files do.
    std::vector<uint8_t> out;
    const size_t windowSize = size_t(1) << windowBits;
    if (resets)
        resets->clear();
    for (size_t position = 0; position < data.size(); position += windowSize) {
        size_t end = std::min(data.size(), position + windowSize);
        std::vector<uint8_t> window(data.begin() + position, data.begin() + end);
        std::vector<uint64_t> frames;
        LzxEncodeOptions options;
        options.frameStarts = &frames;
        std::vector<uint8_t> stream = LzxCompress(window, windowBits, options);
        for (uint64_t frame : frames)
            if (resets)
                resets->push_back(out.size() + frame);
        out.insert(out.end(), stream.begin(), stream.end());
    }
    return out;
}

ContainerLayout RepeatedWindowLayout(const std::vector<uint8_t>& window, uint64_t windows,
                                     const std::vector<StoredFile>& files, int windowBits)
{
    std::vector<uint64_t> windowFrames, tailFrames, frames;
    LzxEncodeOptions encode;
    encode.frameStarts = &windowFrames;
    std::vector<uint8_t> windowStream = LzxCompress(window, windowBits, encode);
    std::vector<uint8_t> tail;
    for (const StoredFile& f : files)
        tail.insert(tail.end(), f.data.begin(), f.data.end());
    std::vector<uint8_t> tailStream = LzxCompressedStream(tail, windowBits, &tailFrames);

    std::vector<uint8_t> stream;
    stream.reserve(windowStream.size() * windows + tailStream.size());
    for (uint64_t w = 0; w < windows; w++) {
        for (uint64_t f : windowFrames)
            frames.push_back(stream.size() + f);
        stream.insert(stream.end(), windowStream.begin(), windowStream.end());
    }
    for (uint64_t f : tailFrames)
        frames.push_back(stream.size() + f);
    stream.insert(stream.end(), tailStream.begin(), tailStream.end());

    const uint64_t filler = windows * window.size();
    HelpFileOptions options;
    options.windowBits = windowBits;
    options.stream = LzxStreamKind::Uncompressed;  // its stream is replaced
    options.contentBytes = std::move(stream);
    options.resetTableBytes =
        ResetTableBytes(filler + tail.size(), options.contentBytes->size(), frames);
    ContainerLayout layout = HelpFileLayout(files, options);
    for (RawEntry& entry : layout.entries)
        if (entry.section == 1)
            entry.offset += filler;
    return layout;
}

std::vector<uint8_t> NameListBytes(const std::vector<std::string>& names)
{
    std::vector<uint8_t> out;
    AppendLE(out, 0, 2);
    AppendLE(out, names.size(), 2);
    for (const std::string& name : names) {
        AppendLE(out, name.size(), 2);
        for (char c : name)
            AppendLE(out, (uint8_t)c, 2);
        AppendLE(out, 0, 2);
    }
    PutLE(out, 0, out.size() / 2, 2);  // length in 16-bit units
    return out;
}

std::vector<uint8_t> ControlDataBytes(uint32_t resetInterval, uint32_t windowCode,
                                      uint32_t cacheSize)
{
    std::vector<uint8_t> out;
    AppendLE(out, 6, 4);  // further words that follow
    AppendText(out, "LZXC");
    AppendLE(out, 2, 4);              // version
    AppendLE(out, resetInterval, 4);  // in units of 32768 bytes
    AppendLE(out, windowCode, 4);     // window size in units of 32768 bytes
    AppendLE(out, cacheSize, 4);
    AppendLE(out, 0, 4);
    return out;
}

std::vector<uint8_t> ControlDataBytes(uint32_t windowCode)
{
    return ControlDataBytes(windowCode, windowCode, windowCode);
}

std::vector<uint8_t> ResetTableBytes(uint64_t uncompressedLength, uint64_t compressedLength,
                                     const std::vector<uint64_t>& resets)
{
    std::vector<uint8_t> out;
    AppendLE(out, 2, 4);  // version
    AppendLE(out, resets.size(), 4);
    AppendLE(out, 8, 4);     // entry size
    AppendLE(out, 0x28, 4);  // header length
    AppendLE(out, uncompressedLength, 8);
    AppendLE(out, compressedLength, 8);
    AppendLE(out, 0x8000, 8);  // block size
    for (uint64_t reset : resets)
        AppendLE(out, reset, 8);
    return out;
}

std::string ControlDataName(const std::string& section)
{
    return "::DataSpace/Storage/" + section + "/ControlData";
}

std::string ResetTableName(const std::string& section)
{
    return "::DataSpace/Storage/" + section +
        "/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable";
}

std::string ContentName(const std::string& section)
{
    return "::DataSpace/Storage/" + section + "/Content";
}

ContainerLayout HelpFileLayout(const std::vector<StoredFile>& files, const HelpFileOptions& options)
{
    ContainerLayout layout;
    layout.chunkSize = options.chunkSize;
    const std::string section =
        options.sectionNames.size() > 1 ? options.sectionNames[1] : "MSCompressed";

    std::vector<uint8_t> compressedSection;
    std::vector<uint64_t> fileOffsets;
    for (const StoredFile& file : files) {
        if (file.section == 0) {
            fileOffsets.push_back(0);
            continue;
        }
        fileOffsets.push_back(compressedSection.size());
        compressedSection.insert(compressedSection.end(), file.data.begin(), file.data.end());
    }

    std::vector<uint64_t> resets;
    std::vector<uint8_t> stream;
    if (options.contentBytes) {
        stream = *options.contentBytes;
        resets = {0};
    } else {
        stream = options.stream == LzxStreamKind::Encoder
            ? LzxCompressedStream(compressedSection, options.windowBits, &resets)
            : LzxUncompressedStream(compressedSection, options.windowBits, &resets);
        if (resets.empty())
            resets = {0};
    }
    const int bits = std::clamp(options.windowBits, 15, 21);

    auto store = [&](const std::string& name, const std::vector<uint8_t>& data) {
        layout.entries.push_back({name, 0, layout.content.size(), data.size(), {}});
        layout.content.insert(layout.content.end(), data.begin(), data.end());
    };
    if (options.nameList)
        store("::DataSpace/NameList",
              options.nameListBytes ? *options.nameListBytes : NameListBytes(options.sectionNames));
    store(ControlDataName(section),
          options.controlDataBytes ? *options.controlDataBytes
                                   : ControlDataBytes(1u << (bits - 15)));
    std::vector<uint8_t> spanInfo;
    AppendLE(spanInfo, compressedSection.size(), 8);
    store("::DataSpace/Storage/" + section + "/SpanInfo", spanInfo);
    store("::DataSpace/Storage/" + section + "/Transform/List",
          FileBytes(std::string("{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}")));
    store(ResetTableName(section),
          options.resetTableBytes
              ? *options.resetTableBytes
              : ResetTableBytes(compressedSection.size(), stream.size(), resets));
    store(ContentName(section), stream);

    for (size_t i = 0; i < files.size(); i++) {
        if (files[i].section == 0) {
            store(files[i].name, files[i].data);
        } else {
            layout.entries.push_back({files[i].name,
                                      (uint64_t)files[i].section,
                                      fileOffsets[i],
                                      files[i].data.size(),
                                      {}});
        }
    }
    return layout;
}

std::vector<uint8_t> MakeHelpFile(const std::vector<StoredFile>& files,
                                  const HelpFileOptions& options)
{
    return BuildContainer(HelpFileLayout(files, options));
}

std::vector<uint8_t> MakeHelpFile(const std::vector<StoredFile>& files)
{
    return MakeHelpFile(files, HelpFileOptions());
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::vector<uint8_t> out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return out;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        out.insert(out.end(), buffer, buffer + n);
    fclose(f);
    return out;
}
