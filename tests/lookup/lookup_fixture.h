// Fixture of the help-request tests: a started module against the recording
// host, with helpers to place help files in the test's directory.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "frame/frame.h"
#include "index_builder.h"
#include "lookup/lookup.h"
#include "support/recording_host.h"

class LookupTest : public RecordingHostTest {
protected:
    void SetUp() override
    {
        RecordingHostTest::SetUp();
        host.messages[0] = "Velkory topics";
        host.StartModule();
        Modality = 0;
        Visuality = 0;
        host.ClearLog();
    }

    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        std::string path = host.Path(name);
        EXPECT_TRUE(WriteBytes(path, bytes)) << path;
        return path;
    }

    // The one OpenViewer or OpenEditor call of the request; fails the test
    // when there is not exactly one.
    RecordedCall Opened()
    {
        std::vector<RecordedCall> viewer = host.CallsOf("OpenViewer");
        std::vector<RecordedCall> editor = host.CallsOf("OpenEditor");
        EXPECT_EQ(viewer.size() + editor.size(), 1u);
        if (!viewer.empty())
            return viewer[0];
        if (!editor.empty())
            return editor[0];
        return RecordedCall();
    }

    // The path as the module hands it over: every backslash turned into "/".
    static std::string Slashed(std::string path)
    {
        for (char& c : path)
            if (c == '\\')
                c = '/';
        return path;
    }

    static bool IsEmptyDirectory(const std::string& path)
    {
        std::error_code ec;
        return std::filesystem::is_directory(path, ec) && std::filesystem::is_empty(path, ec);
    }
};
