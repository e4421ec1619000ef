// The shared corpus of real and hostile help files, and its manifests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The shared folder beside the source tree (VELKORY_SHARED overrides it);
// empty when it does not exist.
std::string SharedDir();

struct ManifestEntry {
    std::string name;
    uint32_t section;
    uint32_t length;
    std::string sha256;  // lower-case hex
};
std::vector<ManifestEntry> ReadManifest(const std::string& path);

// Every *.chm in the shared corpus folder chm/ (sorted), or malformed/.
std::vector<std::string> CorpusHelpFiles();
std::vector<std::string> MalformedHelpFiles();

// The bytes of the stored file name of file; empty when it cannot be
// extracted, and then *ok (when given) is set false.
struct HelpFile;
std::vector<uint8_t> StoredBytes(HelpFile* file, const char* name, bool* ok = nullptr);

// Lower-case hex sha256 of size bytes at data.
std::string Sha256Hex(const void* data, size_t size);
