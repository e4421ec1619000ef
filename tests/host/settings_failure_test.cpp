// The config command when the settings file cannot be used: one line on
// stderr naming the file and the reason, status 1, and the file as it was.
#include "host_runner.h"

namespace {

TEST_F(HostTest, SettingsThatCannotBeSavedOrReadAreReported)
{
    const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : header)
        utf16 += std::string {c, '\0'};
    struct Case {
        std::string file;  // the settings file's text ("" for none)
        std::map<std::string, std::string> env;
        std::string why;  // after "velkory: settings not saved: " or "... cannot be read: "
    };
    const Case cases[] = {
        {header + "[HKEY_CURRENT_USER\\x]\nbad line\n", {}, registry_ + ": line 4 does not parse"},
        {"",
         {{"VELKORY_REGISTRY", ""}, {"HOME", ""}, {"XDG_CONFIG_HOME", ""}},
         "no settings file: neither VELKORY_REGISTRY, an absolute XDG_CONFIG_HOME nor HOME is set"},
        {utf16, {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        WriteText(registry_, c.file);
        RunResult saved = Run({"config", "--modality", "1", "--visuality", "1"}, c.env);
        RunResult shown = Run({"config", "--show"}, c.env);
        if (c.why.empty()) {
            EXPECT_EQ(saved.status, 0) << saved.err;
            EXPECT_NE(shown.out.find("Visuality: 1"), std::string::npos) << shown.out;
            continue;
        }
        EXPECT_EQ(saved.status, 1);
        EXPECT_EQ(saved.err, "velkory: settings not saved: " + c.why + "\n");
        EXPECT_EQ(ReadText(registry_), c.file);
        EXPECT_EQ(shown.status, 1);
        EXPECT_EQ(shown.err, "velkory: settings cannot be read: " + c.why + "\n");
        EXPECT_EQ(saved.out + shown.out, "");
    }
}

}  // namespace
