// libFuzzer target: the topic index. The input is the four index files and a
// few choices; they are stored in a help file (or in its companion index
// file) together with one page for every URL that #URLSTR names, and a help
// request goes through the module's Message entry with the recording host.
//
// Input layout:
//   byte 0   bit 0: the index lives in the companion index file
//            bit 1: the index files are stored uncompressed
//            bits 2-3: the menu's answer (3 cancels)
//            bit 4: the page opens in the viewer rather than the editor
//   byte 1   keyword length (taken modulo 64), then the keyword's bytes
//   then #TOPICS, #STRINGS, #URLTBL and #URLSTR, each a 16-bit little-endian
//   length and that many bytes (cut at the input's end).
//
// The request answers 0 or 1; it opens at most one page, and only when it
// answers 1, and that page holds exactly what was stored under its name. A
// request that answers 0 leaves no page behind.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "frame/frame.h"
#include "fuzz/fuzz_input.h"
#include "support/chm_writer.h"
#include "support/recording_host.h"

namespace {

using Input = FuzzInput;

RecordingHost& StartedHost()
{
    static RecordingHost& host = []() -> RecordingHost& {
        RecordingHost& h = Host();
        h.Begin();
        h.messages[0] = "Velkory topics";
        h.StartModule();
        atexit([] { Host().End(); });
        return h;
    }();
    return host;
}

void Check(bool condition)
{
    if (!condition)
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    Input in {bytes, size};
    uint32_t options = in.Byte();
    std::vector<uint8_t> keywordBytes = in.Bytes(in.Byte() % 64);
    std::string keyword(keywordBytes.begin(), keywordBytes.end());
    keyword = keyword.substr(0, keyword.find('\0'));
    static const char* const names[4] = {"/#TOPICS", "/#STRINGS", "/#URLTBL", "/#URLSTR"};
    std::vector<StoredFile> index;
    for (const char* name : names) {
        uint32_t length = in.Byte();
        length |= in.Byte() << 8;
        index.push_back({name, in.Bytes(length), (options & 2) ? 0 : 1});
    }

    // One page for each of the first URLs of #URLSTR, cut at "#" as the
    // module cuts them; its content names it.
    std::map<std::string, std::string> pages;
    const std::vector<uint8_t>& urls = index[3].data;
    for (size_t at = 0; at < urls.size() && pages.size() < 8;) {
        size_t end = at;
        while (end < urls.size() && urls[end] != 0)
            ++end;
        std::string url(urls.begin() + at, urls.begin() + end);
        url = url.substr(0, url.find('#'));
        if (!url.empty())
            pages["/" + url] = "page " + url;
        at = end + 1;
    }
    std::vector<StoredFile> helpFiles;
    for (const auto& [name, content] : pages)
        helpFiles.push_back({name, std::vector<uint8_t>(content.begin(), content.end()), 1});
    // What an opened page may hold: a page, or any other stored file that a
    // URL can name (an index file, an empty directory entry).
    std::vector<std::string> stored = {""};
    for (const StoredFile& file : helpFiles)
        stored.emplace_back(file.data.begin(), file.data.end());
    for (const StoredFile& file : index)
        stored.emplace_back(file.data.begin(), file.data.end());

    RecordingHost& host = StartedHost();
    std::string help = host.Path("fuzz.chm");
    std::string companion = host.Path("fuzz.chi");
    std::error_code ec;
    std::filesystem::remove(companion, ec);
    if (options & 1) {
        if (!WriteBytes(companion, MakeHelpFile(index)))
            return 0;
    } else {
        helpFiles.insert(helpFiles.end(), index.begin(), index.end());
    }
    if (!WriteBytes(help, MakeHelpFile(helpFiles)))
        return 0;

    host.ClearLog();
    host.tempNames.clear();
    host.menuChoice = ((options >> 2) & 3) == 3 ? -1 : (int)((options >> 2) & 3);
    Modality = 1;
    Visuality = (options >> 4) & 1;
    int32_t result = host.SendHelp(help.c_str(), keyword.c_str());

    Check(result == 0 || result == 1);
    std::vector<RecordedCall> opened = host.CallsOf(Visuality ? "OpenViewer" : "OpenEditor");
    Check(host.Count(Visuality ? "OpenEditor" : "OpenViewer") == 0);
    Check(opened.size() <= (size_t)result);
    if (!opened.empty()) {
        Check(opened[0].fileExisted);
        bool known = false;
        for (const std::string& content : stored)
            known = known || opened[0].fileContent == content;
        Check(known);
    }
    for (const std::string& dir : host.tempNames) {
        // A request that failed leaves no page behind.
        Check(result == 1 || !std::filesystem::exists(dir + "/velkory.txt", ec));
        std::filesystem::remove_all(dir, ec);
    }
    return 0;
}
