// The module, loaded by path and started for one request, and the services
// the host hands it: the menu and the dialog (terminal/), the viewer and the
// editor (page/), the message texts and the text utilities.
//
// The module calls the services through plain function pointers that carry
// no context of the host's, so the request a session runs lives in this room
// while the session is begun (services.cpp) and nowhere else: the command
// gives its options to the session and reads what happened from its record.
//
// Room module/: may call page/, terminal/, os/ and the module's frame/ and
// platform/ (the loaded module itself only through its exports).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame/host_api.h"
#include "host/page/page.h"
#include "platform/store_failure.h"

// What the command line asked of the services.
struct RequestOptions {
    int pick = 0;       // choose the Nth menu item (from 1); 0: ask the user
    int modality = -1;  // the dialog's answers; -1 when not given
    int visuality = -1;
    bool cancel = false;  // leave the dialog
    // With pick: the text (for display) the module's menu must show at that
    // item, else nothing is chosen (a shelf's menu chose it from the same
    // matches); "" for any.
    std::string expectedItem;
};

// What the services saw during one request, for the host's explanations.
struct RequestRecord {
    bool menuShown = false;       // ShowMenu was called
    int menuItems = 0;            // with this many items
    bool menuCancelled = false;   // and nothing was chosen
    bool pickOutOfRange = false;  // --pick named an item that does not exist
    bool pickMismatch = false;    // or one whose text is not the one expected
    bool pageOpened = false;      // OpenViewer or OpenEditor was called
    bool openFailed = false;      // and the viewer or editor failed (said on stderr)
    std::string tempName;         // the last name MakeTempName gave
    std::string helpFile;         // the help file of the request
};

constexpr const char* HostRegistryRoot = "Software\\VelkoryHost";

class ModuleSession {
public:
    // modulePath "" loads the module beside the program (or where the install
    // puts it).
    ModuleSession(const std::string& modulePath, const RequestOptions& options);
    ~ModuleSession();
    ModuleSession(const ModuleSession&) = delete;
    ModuleSession& operator=(const ModuleSession&) = delete;
    bool Begin();  // false, with the reason on stderr, when it cannot be loaded
    // A help request for keyword (in the OEM code page) in helpFile.
    int32_t Help(const std::string& helpFile, const char* keyword);
    int32_t Send(int32_t request, const HelpRequest* help, ModuleInfo* info);
    const RequestRecord& Record() const
    {
        return record_;
    }
    // Why the module's last read or write of the settings file failed ("" when
    // it did not); null when the module cannot tell (platform/store_failure.h).
    const char* StoreFailure(int access) const;

private:
    std::string path_;
    RequestOptions options_;
    RequestRecord record_;
    void* library_ = nullptr;
    StartFn Start_ = nullptr;
    ExitFn Exit_ = nullptr;
    MessageFn Message_ = nullptr;
    StoreFailureFn StoreFailure_ = nullptr;
    bool started_ = false;
    HostServices services_;
    HostUtilities utilities_;
    ModuleContext context_;
};

// The module's own code linked into the host, started with the host's
// services for one request while this lives, for what the exports cannot
// ask: the settings, and a page the caller names shown as the module shows
// the page a help request chose (lookup.h, DisplayTopic). --module does not
// apply to it.
class LinkedRequest {
public:
    LinkedRequest(const RequestOptions& options, const std::string& helpFile);
    ~LinkedRequest();
    LinkedRequest(const LinkedRequest&) = delete;
    LinkedRequest& operator=(const LinkedRequest&) = delete;
    const RequestRecord& Record() const
    {
        return record_;
    }

private:
    RequestOptions options_;
    RequestRecord record_;
    HostServices services_;
    HostUtilities utilities_;
    ModuleContext context_;
};

// The two settings, read by the module's own code linked into the host.
void ReadSettings(int32_t& modality, int32_t& visuality);

// Opens page (a stored name) of helpFile exactly as a help request opens the
// topic the user chose, by the module's own code linked into the host: the
// page extracted into a new page directory and shown in the viewer or the
// editor the settings name, at the first line holding keyword (in the OEM
// code page). True when it was shown; false, with the reason on stderr
// where the viewer says it, otherwise with record telling what happened.
bool OpenHelpPage(const std::string& helpFile, const std::string& page, const char* keyword,
                  const RequestOptions& options, RequestRecord& record);

// settings_check.cpp: after the module saved the settings, or after the host
// read them: true, with the file and the reason on stderr, when the settings
// file failed.
bool SettingsSaveFailed(const ModuleSession& session);
bool SettingsReadFailed();

// messages.cpp: the module's message texts, owned by the host.
const char* ModuleMessageText(int number);  // null for a number without text
int ModuleMessageCapacity(int number);      // the size of the module's destination

// services.cpp: a menu of items as the module's menu is shown: the chosen
// item (from 0), or -1 when none was (left, listed on stderr for want of a
// terminal, or --pick beyond the items, which record notes).
int ChooseFromMenu(const std::string& title, const std::vector<std::string>& items,
                   const RequestOptions& options, RequestRecord& record);
// keyword.cpp: the keyword (a what: "keyword", "word") in the module's OEM
// code page; false, having said why on stderr, when it cannot be converted.
bool KeywordInOem(const std::string& keyword, const char* what, std::string& oem);
// Compares the first count bytes of text with keyword as the module does
// (letters without regard to case): <0, 0 or >0.
int CompareAsModule(const char* text, const char* keyword, int32_t count);

// shelf.cpp: the joined menu of the matches of several help files (each item
// naming its file when there are several), as help and browse show it; a help
// file that cannot be read is said on stderr and skipped. keyword is as the
// user typed it, oemKeyword in the OEM code page, pick as --pick gives it.
// When nothing was chosen, status is the command's exit status: 1 when
// nothing matched, 0 when the menu was left (or listed for want of a
// terminal), 2 for a --pick beyond the matches (said on stderr).
struct ShelfChoice {
    bool chosen = false;
    int status = 0;
    std::string file;     // the chosen match's help file
    size_t position = 0;  // its place (from 0) in the module's menu of that file
    MatchedTopic match;
};
ShelfChoice ChooseOnShelf(const std::vector<std::string>& files, const std::string& keyword,
                          const char* oemKeyword, int pick);
// What help says of a menu of count topics matching keyword that nothing was
// chosen from: a --pick beyond them (a usage error; the exit status), or,
// without a terminal, that one is to be chosen with --pick.
int PickBeyondMatches(int pick, size_t count, const std::string& keyword);
void AskForPick(size_t count, const std::string& keyword);

// Within this room: the three blocks filled with the services, answering for
// the request of options and record (both null: no request, defaults).
void FillHostBlocks(HostServices& services, HostUtilities& utilities, ModuleContext& context,
                    const RequestOptions* options, RequestRecord* record);
// The services stop answering for the request of record (its session ends).
void EndRequest(const RequestRecord* record);
