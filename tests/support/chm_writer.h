// Test-side ITSF container writer: builds help files in memory, well-formed or
// deliberately broken, for the tests. Never part of the module.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StoredFile {
    std::string name;           // stored name, e.g. "/#TOPICS" or "/html/a.htm"
    std::vector<uint8_t> data;  // the file's bytes
    int section = 1;            // 0: stored as is; 1: in the LZX-compressed section "MSCompressed"
};

// A well-formed help file holding files (in this directory order, after the
// container's own entries), with section 1 compressed as LZX.
std::vector<uint8_t> MakeHelpFile(const std::vector<StoredFile>& files);

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);
