// The config command when the settings file cannot be used: one line on
// stderr naming the file and the reason, status 1, and the file as it was.
#include "host_runner.h"

#include <functional>

namespace {

TEST_F(HostTest, SettingsThatCannotBeSavedOrReadAreReported)
{
    const std::string header = "Windows Registry Editor Version 5.00\n\n";
    const std::string none =
        "no settings file: neither VELKORY_REGISTRY, an absolute XDG_CONFIG_HOME nor HOME is set";
    struct Case {
        const char* what;
        std::function<void()> setUp;
        std::map<std::string, std::string> env;
        std::string saved, shown;  // the reasons after "settings not saved: " and "... read: "
    };
    const Case cases[] = {
        {"corrupt",
         [&] { WriteText(registry_, header + "[HKEY_CURRENT_USER\\x]\nbad line\n"); },
         {},
         registry_ + ": line 4 does not parse",
         registry_ + ": line 4 does not parse"},
        {"read-only",
         [&] { WriteText(registry_, header), chmod(registry_.c_str(), 0444); },
         {},
         registry_ + ": the file is read-only",
         ""},
        {"directory",
         [&] { fs::create_directory(registry_); },
         {},
         registry_ + ": Is a directory",
         registry_ + ": Is a directory"},
        {"nowhere",
         [] {},
         {{"VELKORY_REGISTRY", ""}, {"HOME", ""}, {"XDG_CONFIG_HOME", ""}},
         none,
         none},
        {"utf-16",
         [&] {
             std::string text = "\xFF\xFE";
             for (char c : header)
                 text += std::string {c, '\0'};
             WriteText(registry_, text);
         },
         {},
         "",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::error_code ec;
        fs::remove_all(registry_, ec);
        c.setUp();
        std::string before = fs::is_regular_file(registry_) ? ReadText(registry_) : "";

        RunResult saved = Run({"config", "--modality", "1", "--visuality", "1"}, c.env);
        RunResult shown = Run({"config", "--show"}, c.env);
        if (c.saved.empty()) {
            EXPECT_EQ(saved.status, 0) << saved.err;
            EXPECT_NE(shown.out.find("Visuality: 1"), std::string::npos) << shown.out;
        } else {
            EXPECT_EQ(saved.status, 1);
            EXPECT_EQ(saved.err, "velkory: settings not saved: " + c.saved + "\n");
            EXPECT_EQ(saved.out, "");
            EXPECT_EQ(fs::is_regular_file(registry_) ? ReadText(registry_) : "", before);
        }
        if (c.shown.empty()) {
            EXPECT_EQ(shown.status, 0) << shown.err;
        } else {
            EXPECT_EQ(shown.status, 1);
            EXPECT_EQ(shown.err, "velkory: settings cannot be read: " + c.shown + "\n");
            EXPECT_EQ(shown.out, "");
        }
    }
}

}  // namespace
