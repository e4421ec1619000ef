// The module: loaded by path (beside the executable unless --module names
// another), its three exports resolved by name, started with the host's
// services for one request and told to exit before it is unloaded.
#include <cstring>
#include <string>

#include "frame/frame.h"
#include "host/host.h"
#include "host/module/module.h"
#include "host/os/os.h"
#include "lookup/lookup.h"

namespace {

#if defined(VELKORY_INSTALLED_MODULE)
const char* const InstalledModule = VELKORY_INSTALLED_MODULE;
#else
const char* const InstalledModule = nullptr;
#endif

}  // namespace

ModuleSession::ModuleSession(const std::string& modulePath, const RequestOptions& options)
    : path_(!modulePath.empty() ? modulePath
                                : CompanionPath(System.moduleFileName, InstalledModule))
    , options_(options)
{
}

ModuleSession::~ModuleSession()
{
    EndRequest(&record_);
    if (started_)
        Exit_();
    if (library_)
        CloseLibrary(library_);
}

bool ModuleSession::Begin()
{
    std::string error;
    library_ = OpenLibrary(path_, error);
    if (!library_) {
        Complain("cannot load the module " + path_ + ": " + error);
        return false;
    }
    void* start = LibraryExport(library_, "Start");
    void* exit = LibraryExport(library_, "Exit");
    void* message = LibraryExport(library_, "Message");
    if (!start || !exit || !message) {
        Complain("the module " + path_ + " lacks the export " +
                 (!start      ? "Start"
                      : !exit ? "Exit"
                              : "Message"));
        CloseLibrary(library_);
        library_ = nullptr;
        return false;
    }
    Start_ = reinterpret_cast<StartFn>(start);
    Exit_ = reinterpret_cast<ExitFn>(exit);
    Message_ = reinterpret_cast<MessageFn>(message);
    StoreFailure_ =
        reinterpret_cast<StoreFailureFn>(LibraryExport(library_, VELKORY_STORE_FAILURE_EXPORT));
    FillHostBlocks(services_, utilities_, context_, &options_, &record_);
    Start_(&services_, &context_);
    started_ = true;
    return true;
}

int32_t ModuleSession::Help(const std::string& helpFile, const char* keyword)
{
    HelpRequest request;
    memset(&request, 0, sizeof request);
    request.helpFile = helpFile.c_str();
    request.keyword = keyword;
    record_.helpFile = helpFile;
    return Send(RequestHelp, &request, nullptr);
}

int32_t ModuleSession::Send(int32_t request, const HelpRequest* help, ModuleInfo* info)
{
    return Message_(request, help, info);
}

const char* ModuleSession::StoreFailure(int access) const
{
    return StoreFailure_ ? StoreFailure_(access) : nullptr;
}

// The host links the module's objects for its file commands; starting that
// copy with the host's blocks has it load the settings exactly as the loaded
// module does, from the same key, with the same parsing.
LinkedRequest::LinkedRequest(const RequestOptions& options, const std::string& helpFile)
    : options_(options)
{
    record_.helpFile = helpFile;
    FillHostBlocks(services_, utilities_, context_, &options_, &record_);
    Start(&services_, &context_);
}

LinkedRequest::~LinkedRequest()
{
    EndRequest(&record_);
}

void ReadSettings(int32_t& modality, int32_t& visuality)
{
    LinkedRequest request({}, "");
    modality = Modality;
    visuality = Visuality;
}

bool OpenHelpPage(const std::string& helpFile, const std::string& page, const char* keyword,
                  const RequestOptions& options, RequestRecord& record)
{
    HostServices services;
    HostUtilities utilities;
    ModuleContext context;
    FillHostBlocks(services, utilities, context, &options, &record);
    Start(&services, &context);
    record.helpFile = helpFile;
    int displayed = DisplayTopic(helpFile.c_str(), keyword, page.c_str());
    Exit();
    EndRequest(&record);
    return displayed && record.pageOpened && !record.openFailed;
}
