// Where a help file opens: #SYSTEM's default topic and window, and the page
// of a window type in #WINDOWS.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lookup/lookup.h"
#include "system_builder.h"

namespace {

void PutLE32(std::vector<uint8_t>& out, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = (uint8_t)(value >> (8 * i));
}

// #STRINGS: a NUL, then "main", "side", "a.htm", "b.htm", "c.htm" (offsets
// 1, 6, 11, 17, 23) and, at offset 29, "open" without a terminator.
const char StringsText[] = "\0main\0side\0a.htm\0b.htm\0c.htm\0open";
const std::vector<uint8_t> Strings(StringsText, StringsText + sizeof StringsText - 1);

struct Window {
    uint32_t name, file, home;
};

std::vector<uint8_t> WindowsBytes(const std::vector<Window>& windows, uint32_t size = 196,
                                  uint32_t count = 0)
{
    std::vector<uint8_t> out(8 + windows.size() * size, 0);
    PutLE32(out, 0, count ? count : (uint32_t)windows.size());
    PutLE32(out, 4, size);
    for (size_t i = 0; i < windows.size(); ++i) {
        size_t entry = 8 + i * size;
        PutLE32(out, entry, size);
        PutLE32(out, entry + 0x08, windows[i].name);
        if (size >= 0x70) {
            PutLE32(out, entry + 0x68, windows[i].file);
            PutLE32(out, entry + 0x6C, windows[i].home);
        }
    }
    return out;
}

TEST(WindowHome, TheNamedWindowTypesDefaultFileElseItsHomePage)
{
    const Window main {1, 11, 17}, side {6, 0, 23};
    struct {
        const char* what;
        std::vector<uint8_t> windows;
        const char* window;
        const char* page;
    } cases[] = {
        {"the named one", WindowsBytes({main, side}), "side", "c.htm"},
        {"its default file first", WindowsBytes({side, main}), "main", "a.htm"},
        {"the first for an unknown name", WindowsBytes({main, side}), "other", "a.htm"},
        {"the first without a name", WindowsBytes({side, main}), "", "c.htm"},
        {"a text running to the end", WindowsBytes({{1, 29, 0}}), "", "open"},
        {"offsets outside #STRINGS are none", WindowsBytes({{1, 900, 17}}), "", "b.htm"},
        {"no page at all", WindowsBytes({{1, 0, 0}}), "", ""},
        {"entries too small for the pages", WindowsBytes({main}, 0x6C), "", ""},
        {"a count beyond the data", WindowsBytes({main}, 196, 1000), "zzz", "a.htm"},
        {"no entries", WindowsBytes({}), "", ""},
        {"a header cut short", {1, 0, 0, 0, 196}, "", ""},
    };
    for (const auto& c : cases) {
        char page[NameBufferSize];
        memset(page, 'x', sizeof page);
        ParseWindowHome(c.windows.data(), (uint32_t)c.windows.size(), Strings.data(),
                        (uint32_t)Strings.size(), c.window, page);
        EXPECT_STREQ(page, c.page) << c.what;
    }
}

TEST(WindowHome, SystemNamesTheDefaultTopicAndWindow)
{
    std::vector<uint8_t> system = SystemFileBytes(0x0409, "toc.hhc");
    AppendSystemRecord(system, 2, {'p', 'a', 'g', 'e', '%', '2', '0', '1', '.', 'h', 't', 'm', 0});
    AppendSystemRecord(system, 5, {'m', 'a', 'i', 'n', 0});
    SystemInfo info;
    ParseSystemInfo(system.data(), (uint32_t)system.size(), &info);
    EXPECT_STREQ(info.defaultTopic, "page%201.htm");
    EXPECT_STREQ(info.defaultWindow, "main");
    EXPECT_STREQ(info.contentsFile, "toc.hhc");
}

}  // namespace
