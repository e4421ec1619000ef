// Helpers shared by the container tests: a help file written to a temporary
// path, and extraction into a vector.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "container/container.h"
#include "support/chm_writer.h"

inline unsigned ProcessTag()
{
    static unsigned tag = std::random_device()();
    return tag;
}

// A help file written to a fresh temporary path, removed again at the end.
class TempHelpFile {
public:
    explicit TempHelpFile(const std::vector<uint8_t>& bytes)
    {
        static int serial = 0;
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        path_ = (std::filesystem::temp_directory_path() /
                 ("velkory-container-" + std::to_string(ProcessTag()) + "-" +
                  (test ? std::string(test->name()) : std::string("x")) + "-" +
                  std::to_string(serial++) + ".chm"))
                    .string();
        Write(bytes);
    }
    ~TempHelpFile()
    {
        std::error_code error;
        std::filesystem::remove(path_, error);
    }
    void Write(const std::vector<uint8_t>& bytes)
    {
        EXPECT_TRUE(WriteBytes(path_, bytes));
    }
    const std::string& path() const
    {
        return path_;
    }

private:
    std::string path_;
};

// An open help file, closed at the end of the scope.
struct OpenedHelpFile {
    HelpFile* file;
    explicit OpenedHelpFile(const std::string& path)
        : file(OpenHelpFile(path.c_str()))
    {
    }
    ~OpenedHelpFile()
    {
        CloseHelpFile(file);
    }
    OpenedHelpFile(const OpenedHelpFile&) = delete;
    OpenedHelpFile& operator=(const OpenedHelpFile&) = delete;
    HelpFile* operator->() const
    {
        return file;
    }
};

// The stored file's bytes, or nothing when ExtractFile fails; a failure must
// leave the length 0 and the data null.
inline std::optional<std::vector<uint8_t>> Extract(HelpFile* file, const std::string& name)
{
    uint32_t length = 12345;
    uint8_t* data = reinterpret_cast<uint8_t*>(&length);
    int result = ExtractFile(file, name.c_str(), &length, &data);
    if (result != 0) {
        EXPECT_EQ(result, -1) << name;
        EXPECT_EQ(length, 0u) << name;
        EXPECT_EQ(data, nullptr) << name;
        return std::nullopt;
    }
    EXPECT_NE(data, nullptr) << name;
    std::vector<uint8_t> bytes(data, data + length);
    free(data);
    return bytes;
}

inline std::vector<uint8_t> Bytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Deterministic filler that compresses poorly and shows misplaced offsets.
inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed)
{
    std::vector<uint8_t> out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; i++) {
        x = x * 1103515245u + 12345u;
        out[i] = (uint8_t)(x >> 16);
    }
    return out;
}
