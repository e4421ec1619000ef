// The plug-in frame as a host sees it: Start, Message and its requests, the
// settings in the registry, and the configuration dialog.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "frame/frame.h"
#include "platform/platform.h"
#include "support/recording_host.h"

namespace {

class FrameTest : public RecordingHostTest {
protected:
    // Each test begins as if the module had just been loaded.
    void SetUp() override
    {
        RecordingHostTest::SetUp();
        Modality = 0;
        Visuality = 0;
    }

    std::string KeyPath() const
    {
        return host.registryRoot + "\\Velkory";
    }

    // Stores raw bytes under the settings key, creating it.
    void StoreValue(const char* name, DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath().c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, name, 0, type, (const BYTE*)data, size), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void StoreText(const char* name, const std::string& text)
    {
        StoreValue(name, REG_SZ, text.c_str(), (DWORD)text.size() + 1);
    }

    bool KeyExists(const std::string& path) const
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key) !=
            ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    // The stored value's type and bytes; false when it is absent.
    bool ReadValue(const std::string& path, const char* name, DWORD* type, std::string* bytes) const
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key) !=
            ERROR_SUCCESS)
            return false;
        char data[64];
        DWORD size = sizeof data;
        LONG status = RegQueryValueExA(key, name, nullptr, type, (LPBYTE)data, &size);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS)
            return false;
        bytes->assign(data, size);
        return true;
    }

    // Runs the dialog with the given answer; returns Message's result.
    int32_t Configure(int result, std::vector<int> selections = {})
    {
        host.dialogResult = result;
        host.dialogSelections = std::move(selections);
        return host.SendConfigure();
    }
};

TEST_F(FrameTest, StartCopiesTheBlocksAndLoadsSettingsThroughTheHost)
{
    EXPECT_EQ(host.StartModule(), 0);
    EXPECT_EQ(memcmp(&hostServices, &host.services, sizeof hostServices), 0);
    EXPECT_EQ(memcmp(&hostUtilities, &host.utilities, sizeof hostUtilities), 0);
    EXPECT_EQ(memcmp(&moduleContext, &host.context, sizeof moduleContext), 0);

    // The key path is formatted by the host, then each setting is scanned.
    ASSERT_EQ(host.ServiceNames(),
              (std::vector<std::string> {"FormatText", "ScanText", "ScanText"}));
    EXPECT_EQ(host.calls[0].Text(1), "%s\\Velkory");
    EXPECT_EQ(host.calls[0].formatted, KeyPath());
    EXPECT_EQ(std::string(SettingsKeyPath), KeyPath());
    EXPECT_EQ(host.calls[1].Text(1), "%i");
    EXPECT_EQ(host.calls[1].Text(0), "0");
}

TEST_F(FrameTest, TheModuleWorksFromItsCopiesOnly)
{
    host.StartModule();
    // The host's own blocks need not outlive Start.
    memset(&host.services, 0, sizeof host.services);
    memset(&host.utilities, 0, sizeof host.utilities);
    memset(&host.context, 0, sizeof host.context);
    host.ClearLog();
    ModuleInfo info {};
    EXPECT_EQ(host.SendInfo(&info), 1);
    EXPECT_EQ(Configure(6), 1);
    // Message 0 for the info; messages 0, 2, 7, 8 and 4, 3, 5, 6 for the dialog.
    EXPECT_EQ(host.Count("GetModuleMessage"), 1u + 8u);
    EXPECT_EQ(host.Count("RunDialog"), 1u);
}

TEST_F(FrameTest, NoSettingsInTheRegistryGiveZeroAndCreateNothing)
{
    EXPECT_EQ(host.StartModule(), 0);
    EXPECT_EQ(Modality, 0);
    EXPECT_EQ(Visuality, 0);
    EXPECT_FALSE(KeyExists(KeyPath()));
    EXPECT_FALSE(KeyExists(host.registryRoot));
}

TEST_F(FrameTest, InfoFillsItsFieldsAndLeavesOffsetZero)
{
    host.messages[0] = "Velkory help";
    host.StartModule();
    ModuleInfo info;
    memset(&info, 0x5A, sizeof info);
    info.hostField = 0x12345678;
    EXPECT_EQ(host.SendInfo(&info), 1);
    EXPECT_EQ(info.hostField, 0x12345678);
    EXPECT_EQ(info.capabilities, 4);
    EXPECT_EQ(info.nameCount, 1);
    ASSERT_NE(info.names, nullptr);
    EXPECT_STREQ(info.names[0], "Velkory");
    EXPECT_STREQ(info.title, "Velkory help");

    const char* const* first = info.names;
    ModuleInfo again {};
    EXPECT_EQ(host.SendInfo(&again), 1);
    EXPECT_EQ(again.names, first);
    EXPECT_STREQ(again.names[0], "Velkory");

    auto messages = host.CallsOf("GetModuleMessage");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].Int(0), (int64_t)(intptr_t)&moduleContext.messageContext);
    EXPECT_EQ(messages[0].Int(1), 0);
}

TEST_F(FrameTest, UnknownRequestsAnswerZeroAndTouchNothing)
{
    host.StartModule();
    for (int32_t request : {0, 3, 5, 6, 100, -1, -4}) {
        host.ClearLog();
        ModuleInfo info;
        memset(&info, 0x77, sizeof info);
        HelpRequest help {};
        EXPECT_EQ(host.Send(request, &help, &info), 0) << request;
        ModuleInfo untouched;
        memset(&untouched, 0x77, sizeof untouched);
        EXPECT_EQ(memcmp(&info, &untouched, sizeof info), 0) << request;
        EXPECT_TRUE(host.calls.empty()) << request;
    }
}

TEST_F(FrameTest, HelpPassesTheLookupsResultThrough)
{
    host.StartModule();
    host.ClearLog();
    EXPECT_EQ(host.SendHelp("no-such.chm", ""), 1);  // an empty keyword is dealt with
    EXPECT_EQ(host.SendHelp("no-such.chm", nullptr), 1);
    EXPECT_EQ(host.SendHelp(host.Path("missing.chm").c_str(), "print"), 0);
    EXPECT_TRUE(host.calls.empty());
}

struct SettingCase {
    const char* text;
    int32_t expected;
};

TEST_F(FrameTest, StoredTextsGiveTheirParity)
{
    const SettingCase cases[] = {
        {"1", 1},   {"0", 0},   {"7", 1},  {"-3", 1},  {"-4", 0}, {"0x11", 1},      {"0X11", 1},
        {"010", 0}, {"011", 1}, {" 5", 1}, {"abc", 0}, {"", 0},   {"123456789", 1}, {"12abc", 0},
    };
    for (const SettingCase& c : cases) {
        StoreText("Modality", c.text);
        StoreText("Visuality", c.text);
        Modality = Visuality = 0;
        host.StartModule();
        EXPECT_EQ(Modality, c.expected) << '"' << c.text << '"';
        EXPECT_EQ(Visuality, c.expected) << '"' << c.text << '"';
    }
}

TEST_F(FrameTest, TextsWithoutANumberKeepTheSettingsValue)
{
    StoreText("Modality", "1");
    host.StartModule();
    ASSERT_EQ(Modality, 1);
    // A second Start reads the settings again; letters leave the value as it was.
    StoreText("Modality", "letters");
    host.StartModule();
    EXPECT_EQ(Modality, 1);
}

TEST_F(FrameTest, OnlyNineCharactersFitTheReadingCapacity)
{
    StoreText("Modality", "000000001");    // 9 characters and the terminator: read
    StoreText("Visuality", "0000000001");  // 10 characters need 11 bytes: absent
    host.StartModule();
    EXPECT_EQ(Modality, 1);
    EXPECT_EQ(Visuality, 0);
    auto scans = host.CallsOf("ScanText");
    ASSERT_EQ(scans.size(), 2u);
    EXPECT_EQ(scans[0].Text(0), "000000001");
    EXPECT_EQ(scans[1].Text(0), "0");
}

TEST_F(FrameTest, ADwordValueIsReadAsText)
{
    const uint8_t one[4] = {1, 0, 0, 0};
    StoreValue("Modality", REG_DWORD, one, 4);
    StoreText("Visuality", "1");
    host.StartModule();
    EXPECT_EQ(Modality, 0);  // the bytes 1, 0, 0, 0: no number in them
    EXPECT_EQ(Visuality, 1);
}

TEST_F(FrameTest, AValueWithoutTerminatorEndsWithTheBytesRead)
{
    StoreValue("Modality", REG_BINARY, "7", 1);
    StoreValue("Visuality", REG_SZ,
               "3\0"
               "9",
               3);
    host.StartModule();
    auto scans = host.CallsOf("ScanText");
    ASSERT_EQ(scans.size(), 2u);
    EXPECT_EQ(scans[0].Text(0), "7");
    EXPECT_EQ(scans[1].Text(0), "3");
    EXPECT_EQ(Modality, 1);
    EXPECT_EQ(Visuality, 1);
}

TEST_F(FrameTest, DialogItemsAndListsAreFilledFromTheTableAndSettings)
{
    StoreText("Modality", "0");
    StoreText("Visuality", "1");
    for (int n = 0; n <= 8; n++)
        host.messages[n] = "text of message " + std::to_string(n);
    host.StartModule();
    host.ClearLog();
    EXPECT_EQ(Configure(6), 1);

    auto dialogs = host.CallsOf("RunDialog");
    ASSERT_EQ(dialogs.size(), 1u);
    const RecordedCall& call = dialogs[0];
    EXPECT_EQ(call.Int(0), host.moduleNumber);
    EXPECT_EQ(call.Int(1), -1);
    EXPECT_EQ(call.Int(2), -1);
    EXPECT_EQ(call.Int(3), 45);
    EXPECT_EQ(call.Int(4), 8);
    EXPECT_TRUE(call.IsNull(5));
    EXPECT_EQ(call.Int(7), 7);
    ASSERT_EQ(call.dialogItems.size(), 7u);

    struct Expected {
        int kind, x1, y1, x2, y2;
        uint32_t flags;
        const char* text;
    };
    const Expected expected[7] = {
        {3, 3, 1, 41, 6, 0, "text of message 0"},
        {0, 5, 2, 0, 0, 0, "text of message 2"},
        {10, 5, 3, 20, 0, 0x00100000, ""},
        {10, 23, 3, 38, 0, 0x00100000, ""},
        {0, 4, 4, 0, 0, 0x00010000, ""},
        {7, 0, 5, 0, 0, 0x00004000, "text of message 7"},
        {7, 0, 5, 0, 0, 0x00004000, "text of message 8"},
    };
    for (int i = 0; i < 7; i++) {
        const DialogItem& item = call.dialogItems[i];
        SCOPED_TRACE("item " + std::to_string(i));
        EXPECT_EQ(item.kind, expected[i].kind);
        EXPECT_EQ(item.x1, expected[i].x1);
        EXPECT_EQ(item.y1, expected[i].y1);
        EXPECT_EQ(item.x2, expected[i].x2);
        EXPECT_EQ(item.y2, expected[i].y2);
        EXPECT_EQ(item.flags, expected[i].flags);
        EXPECT_STREQ(item.text, expected[i].text);
        EXPECT_EQ(item.focus, i == 2 ? 1 : 0);
        EXPECT_EQ(item.defaultButton, i == 5 ? 1 : 0);
        if (i != 2 && i != 3) {
            EXPECT_EQ(item.selection, 0);
        }
    }
    EXPECT_NE(call.dialogItems[2].selection, 0);
    EXPECT_NE(call.dialogItems[3].selection, 0);
    EXPECT_NE(call.dialogItems[2].selection, call.dialogItems[3].selection);

    // First list: entry 0 is message 4, entry 1 message 3; Modality 0 preselects entry 0.
    ASSERT_EQ(call.choiceEntries[2].size(), 2u);
    EXPECT_EQ(call.choiceEntries[2][0].flags, 0x00010000u);
    EXPECT_EQ(call.choiceEntries[2][1].flags, 0u);
    EXPECT_STREQ(call.choiceEntries[2][0].text, "text of message 4");
    EXPECT_STREQ(call.choiceEntries[2][1].text, "text of message 3");
    // Second list: 5 then 6; Visuality 1 preselects entry 1.
    ASSERT_EQ(call.choiceEntries[3].size(), 2u);
    EXPECT_EQ(call.choiceEntries[3][0].flags, 0u);
    EXPECT_EQ(call.choiceEntries[3][1].flags, 0x00010000u);
    EXPECT_STREQ(call.choiceEntries[3][0].text, "text of message 5");
    EXPECT_STREQ(call.choiceEntries[3][1].text, "text of message 6");

    // Message 1 is never asked for.
    for (const RecordedCall& m : host.CallsOf("GetModuleMessage"))
        EXPECT_NE(m.Int(1), 1);
}

TEST_F(FrameTest, ConfirmingSavesTwoByteTextsAndCreatesTheKey)
{
    host.StartModule();
    ASSERT_FALSE(KeyExists(KeyPath()));
    EXPECT_EQ(Configure(5, {1, 0}), 1);
    EXPECT_EQ(Modality, 1);
    EXPECT_EQ(Visuality, 0);

    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(ReadValue(KeyPath(), "Modality", &type, &bytes));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(bytes, std::string("1\0", 2));
    ASSERT_TRUE(ReadValue(KeyPath(), "Visuality", &type, &bytes));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(bytes, std::string("0\0", 2));

    auto texts = host.CallsOf("IntToText");
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].Int(0), 1);
    EXPECT_EQ(texts[0].Int(2), 10);
    EXPECT_EQ(texts[1].Int(0), 0);

    // A new start reads them back.
    Modality = Visuality = 0;
    host.StartModule();
    EXPECT_EQ(Modality, 1);
    EXPECT_EQ(Visuality, 0);
}

TEST_F(FrameTest, ConfirmingUnchangedWritesTheCurrentValues)
{
    host.StartModule();
    ASSERT_FALSE(KeyExists(KeyPath()));
    // A host answers with the preselected positions when nothing was changed.
    EXPECT_EQ(Configure(5, {0, 0}), 1);
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(ReadValue(KeyPath(), "Modality", &type, &bytes));
    EXPECT_EQ(bytes, std::string("0\0", 2));
    ASSERT_TRUE(ReadValue(KeyPath(), "Visuality", &type, &bytes));
    EXPECT_EQ(bytes, std::string("0\0", 2));
}

TEST_F(FrameTest, LeavingTheDialogChangesNothing)
{
    StoreText("Modality", "1");
    StoreText("Visuality", "1");
    host.StartModule();
#if !defined(_WIN32)
    const auto before = std::filesystem::last_write_time(host.registryFile);
#endif
    for (int result : {6, -1, -100, 0, 2, 4, 7, 1000}) {
        EXPECT_EQ(Configure(result, {0, 0}), 1) << result;
        EXPECT_EQ(Modality, 1) << result;
        EXPECT_EQ(Visuality, 1) << result;
    }
    EXPECT_EQ(host.Count("IntToText"), 0u);
#if !defined(_WIN32)
    EXPECT_EQ(std::filesystem::last_write_time(host.registryFile), before);
#endif
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(ReadValue(KeyPath(), "Modality", &type, &bytes));
    EXPECT_EQ(bytes, std::string("1\0", 2));
}

TEST_F(FrameTest, APositionBeyondTheListIsKeptAndShownAsTheSecondEntry)
{
    host.StartModule();
    EXPECT_EQ(Configure(5, {3, 0}), 1);
    EXPECT_EQ(Modality, 3);  // saved unchanged
    host.ClearLog();
    Configure(6);
    auto dialogs = host.CallsOf("RunDialog");
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].choiceEntries[2][0].flags, 0u);
    EXPECT_EQ(dialogs[0].choiceEntries[2][1].flags, 0x00010000u);
}

TEST_F(FrameTest, ARootTooLongForTheKeyPathKeepsSettingsInMemory)
{
    // 71 characters still fit: 71 + "\Velkory" + terminator = 80 bytes.
    host.registryRoot = "Software\\" + std::string(71 - 9, 'r');
    host.FillBlocks();
    host.StartModule();
    EXPECT_EQ(std::string(SettingsKeyPath), host.registryRoot + "\\Velkory");
    EXPECT_EQ(Configure(5, {1, 1}), 1);
    EXPECT_TRUE(KeyExists(host.registryRoot + "\\Velkory"));

    // 72 characters do not: nothing is read from or written to a cut key.
    std::string longRoot = "Software\\" + std::string(72 - 9, 'r');
    std::string cut = (longRoot + "\\Velkory").substr(0, 79);
    host.registryRoot = longRoot;
    host.FillBlocks();
    host.ClearLog();
    host.StartModule();
    EXPECT_EQ(SettingsKeyPath[0], '\0');
    EXPECT_EQ(host.Count("FormatText"), 0u);
    EXPECT_EQ(Modality, 0);
    EXPECT_EQ(Configure(5, {1, 1}), 1);
    EXPECT_EQ(Modality, 1);  // in memory
    EXPECT_EQ(Visuality, 1);
    EXPECT_FALSE(KeyExists(cut));
    EXPECT_FALSE(KeyExists(longRoot + "\\Velkory"));
}

}  // namespace
