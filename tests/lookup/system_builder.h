// Test-side #SYSTEM: a version and the records of the language and the
// contents and index sitemaps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline void AppendSystemRecord(std::vector<uint8_t>& out, uint16_t code,
                               const std::vector<uint8_t>& data)
{
    out.push_back((uint8_t)code);
    out.push_back((uint8_t)(code >> 8));
    out.push_back((uint8_t)data.size());
    out.push_back((uint8_t)(data.size() >> 8));
    out.insert(out.end(), data.begin(), data.end());
}

// Version 3, then the contents file (code 0), the index file (code 1) and the
// language (code 4: the LCID and four more fields) when given.
inline std::vector<uint8_t> SystemFileBytes(uint32_t lcid, const std::string& contents = "",
                                            const std::string& indexFile = "")
{
    std::vector<uint8_t> out = {3, 0, 0, 0};
    if (!contents.empty()) {
        std::vector<uint8_t> name(contents.begin(), contents.end());
        name.push_back(0);
        AppendSystemRecord(out, 0, name);
    }
    if (!indexFile.empty()) {
        std::vector<uint8_t> name(indexFile.begin(), indexFile.end());
        name.push_back(0);
        AppendSystemRecord(out, 1, name);
    }
    if (lcid != 0) {
        std::vector<uint8_t> language(28, 0);
        for (int i = 0; i < 4; ++i)
            language[i] = (uint8_t)(lcid >> (8 * i));
        AppendSystemRecord(out, 4, language);
    }
    return out;
}
