// libFuzzer target: the input is a help file. It is opened (and where it is
// cut short is found), every stored file is handed out by one pass over its
// sections, and every entry of its directory and the files the help request
// reads are extracted twice (the second time from the cache or through a
// remembered failure).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "container/container.h"

static const std::string& InputPath()
{
    static const std::string path = [] {
        const char* dir = getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/velkory-fuzz-" +
            std::to_string(getpid()) + ".chm";
    }();
    return path;
}

static void ExtractAndCheck(HelpFile* file, const char* name)
{
    uint32_t length = 1;
    uint8_t* data = nullptr;
    int result = ExtractFile(file, name, &length, &data);
    if (result == 0) {
        if (!data)
            abort();
        // Touch every byte so that a buffer shorter than its length shows.
        volatile uint8_t sum = 0;
        for (uint32_t i = 0; i < length; i++)
            sum = sum + data[i];
        free(data);
    } else if (result != -1 || length != 0 || data != nullptr) {
        abort();
    }
}

static int TouchStored(void*, int32_t, const DirectoryEntry*, int error, const uint8_t* data,
                       uint32_t length)
{
    if ((error == ContainerOk) != (data != nullptr))
        abort();
    volatile uint8_t sum = 0;
    for (uint32_t i = 0; i < length; i++)
        sum = sum + data[i];
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    FILE* out = fopen(InputPath().c_str(), "wb");
    if (!out)
        return 0;
    if (size)
        fwrite(input, 1, size, out);
    fclose(out);

    // Where the file is cut short: the headers alone must tell the header and
    // the directory as the open container does.
    ContainerCut early, cut;
    if (FindHeaderCut(InputPath().c_str(), &early) != 0)
        abort();
    HelpFile* file = OpenHelpFile(InputPath().c_str());
    if (!file)
        abort();  // the file exists: opening never fails
    FindContainerCut(file, &cut);
    const bool fromHeaders = cut.Part == CutHeader || cut.Part == CutDirectory;
    if ((fromHeaders ? cut.Part : CutNone) != early.Part ||
        (fromHeaders && (cut.Offset != early.Offset || cut.End != early.End)))
        abort();
    char line[512];
    DescribeContainerCut(&cut, line, sizeof line);
    if ((line[0] == '\0') != (cut.Part == CutNone))
        abort();
    StreamOptions options = {2, nullptr, nullptr, nullptr, nullptr, 0};
    StreamStoredFiles(file, &options, TouchStored, nullptr);
    static const char* const wellKnown[] = {"::DataSpace/NameList", "/#TOPICS", "/#STRINGS",
                                            "/#URLTBL", "/#URLSTR"};
    for (int round = 0; round < 2; round++) {
        for (int32_t i = 0; i < DirectoryCount(file); i++)
            ExtractAndCheck(file, DirectoryAt(file, i)->Name);
        for (const char* name : wellKnown)
            ExtractAndCheck(file, name);
    }
    CloseHelpFile(file);
    return 0;
}
