// libFuzzer target: a help file's texts in any encoding. The first byte
// chooses the help file's code page, the pair of code pages on Linux, and the
// cut; the input is
// also read as a #SYSTEM. Each text goes to the OEM code page as a title
// does, through UTF-16 and back, and is compared with letters folded: nothing
// may be read or written outside its buffer, and every result is terminated
// within its capacity.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lookup/encoding.h"
#include "lookup/lookup.h"
#include "platform/text.h"

namespace {

const uint32_t CodePages[8] = {0, 932, 936, 949, 950, 1251, 1252, CP_UTF8};
#if !defined(_WIN32)
const char* const Pairs[4] = {"", "1252:65001", "936:936", "1252:932"};
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    uint8_t choice = data[0];
    const char* text = (const char*)data + 1;
    size_t length = size - 1;
#if !defined(_WIN32)
    setenv("VELKORY_CODEPAGES", Pairs[(choice >> 3) & 3], 1);
#endif

    SystemInfo info;
    ParseSystemInfo((const uint8_t*)text, (uint32_t)length, &info);
    if (strlen(info.contentsFile) >= sizeof info.contentsFile ||
        strlen(info.indexFile) >= sizeof info.indexFile)
        abort();

    // Titles: cut to the buffer of the lookup and to a capacity of the input's choosing.
    size_t capacity = 1 + (choice >> 5) * 17;
    std::vector<char> out(capacity + 1, '\x7F');
    TextToOem(text, length, CodePages[choice & 7], out.data(), capacity);
    if (strnlen(out.data(), capacity) >= capacity || out[capacity] != '\x7F')
        abort();
    char title[TitleBufferSize];
    TextToOem(text, length, LocaleAnsiCodePage(info.lcid), title, sizeof title);
    char menu[MenuTextSize];
    CopyOemText(menu, title, sizeof menu);

    // Through UTF-16 and back.
    if (length > 0 && length < 4096) {
        UINT codePage = CodePages[choice & 7] != 0 ? CodePages[choice & 7] : CP_ACP;
        int units = MultiByteToWideChar(codePage, 0, text, (int)length, nullptr, 0);
        if (units > 0) {
            std::vector<WCHAR> wide((size_t)units);
            if (MultiByteToWideChar(codePage, 0, text, (int)length, wide.data(), units) != units)
                abort();
            int bytes =
                WideCharToMultiByte(CP_OEMCP, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
            if (bytes > 0) {
                std::vector<char> back((size_t)bytes);
                WideCharToMultiByte(CP_OEMCP, 0, wide.data(), units, back.data(), bytes, nullptr,
                                    nullptr);
            }
            WideToOem(wide.data(), wide.size(), menu, sizeof menu);
        }
    }

    // Comparisons with letters folded, the input against its own halves.
    std::vector<char> whole(text, text + length);
    whole.push_back('\0');
    size_t half = length / 2;
    CompareFoldedUtf8(whole.data(), whole.data() + half, strlen(whole.data() + half));
    StartsWithFoldedUtf8(whole.data(), length, whole.data() + half, length - half);
    return 0;
}
