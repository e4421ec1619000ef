// The help files served: those given, and those of their folders that links
// name ("ms-its:other.chm::/page.htm"), opened when first named. Each is
// read under its own lock (the container's reader is not shared between
// threads); what is made from it once (its start page, its contents) is kept
// for the run, its full-text index in the cache (page_search.cpp).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include "container/container.h"
#include "host/host.h"
#include "host/page/page.h"
#include "host/serve/serve.h"
#include "lookup/encoding.h"
#include "lookup/lookup.h"
#include "platform/text.h"

namespace {

constexpr size_t MaxHelpFiles = 64;

// Whether text ends with suffix (lower case), ASCII letters' case aside.
bool EndsWithNoCase(const std::string& text, const char* suffix)
{
    size_t n = strlen(suffix);
    return text.size() >= n && FoldedText(text.substr(text.size() - n)) == suffix;
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

void IndexDirectory(ServedFile& served)
{
    int32_t count = DirectoryCount(served.file);
    for (int32_t i = 0; i < count; ++i) {
        const DirectoryEntry* entry = DirectoryAt(served.file, i);
        if (entry)
            served.lowerNames.emplace(FoldedText(entry->Name), i);
    }
}

// Whether a link names a page stored in this help file: its stored name and
// anchor in served.home and served.homeAnchor.
bool StoredPage(ServedFile& served, const std::string& link)
{
    ResolvedLink resolved;
    if (link.empty() || !ResolveLink(link, "", resolved) || !resolved.file.empty())
        return false;
    auto it = served.lowerNames.find(FoldedText("/" + resolved.path));
    if (it == served.lowerNames.end())
        return false;
    served.home = DirectoryAt(served.file, it->second)->Name;
    served.homeAnchor = resolved.anchor;
    return true;
}

// The page the viewer shows first: the default topic #SYSTEM names, else the
// page of its window type in #WINDOWS, else a usual start page, else the
// first page stored.
void FindHomePage(ServedFile& served, const SystemInfo& info)
{
    if (StoredPage(served, info.defaultTopic))
        return;
    char window[NameBufferSize];
    ReadWindowHome(served.file, info.defaultWindow, window);
    if (StoredPage(served, window))
        return;
    static const char* const Usual[] = {"/index.htm",    "/index.html", "/default.htm",
                                        "/default.html", "/main.htm",   "/main.html"};
    for (const char* name : Usual)
        if (served.lowerNames.count(name)) {
            served.home = DirectoryAt(served.file, served.lowerNames[name])->Name;
            return;
        }
    int32_t count = DirectoryCount(served.file);
    for (int32_t i = 0; i < count; ++i) {
        std::string name = DirectoryAt(served.file, i)->Name;
        if (EndsWithNoCase(name, ".htm") || EndsWithNoCase(name, ".html")) {
            served.home = name;
            return;
        }
    }
}

// Whether the help file ends before the data its directory lists in the
// section stored as is (where a compressed section's stream is too): "" when
// it does not, else why every file stored past the end cannot be read.
std::string CutShort(HelpFile* file)
{
    uint64_t end = 0;
    int32_t count = DirectoryCount(file);
    for (int32_t i = 0; i < count; ++i) {
        const DirectoryEntry* entry = DirectoryAt(file, i);
        if (entry->Section == 0 && !entry->Wide)
            end = std::max(end, (uint64_t)file->ContentOffset + entry->Offset + entry->Length);
    }
    if (end <= file->FileSize)
        return "";
    return "the help file is cut short: it ends at " + std::to_string(file->FileSize) +
        " bytes, and the data it lists runs to " + std::to_string(end);
}

// Opens a help file; null, with the reason, when it is not one.
std::unique_ptr<ServedFile> OpenServedFile(const std::string& path, std::string& error)
{
    FILE* stream = fopen(path.c_str(), "rb");
    if (!stream) {
        error = path + ": " + strerror(errno);
        return nullptr;
    }
    char signature[4] = {0};
    size_t got = fread(signature, 1, sizeof signature, stream);
    fclose(stream);
    if (got != sizeof signature || memcmp(signature, "ITSF", 4) != 0) {
        error = path + ": not a help file (no ITSF signature)";
        return nullptr;
    }
    auto served = std::make_unique<ServedFile>();
    served->path = path;
    struct stat st;
    served->size = stat(path.c_str(), &st) == 0 ? (uint64_t)st.st_size : 0;
    served->file = OpenHelpFile(path.c_str());
    if (!served->file) {
        error = path + ": " + strerror(errno);
        return nullptr;
    }
    IndexDirectory(*served);
    // SystemInfo is large for a thread's stack.
    auto info = std::make_unique<SystemInfo>();
    if (ReadSystemInfo(served->file, info.get())) {
        uint32_t codePage = LocaleAnsiCodePage(info->lcid);
        served->codePage = codePage != 0 ? codePage : Windows1252;
        served->title = TextToUtf8(info->title, served->codePage);
        served->lcid = info->lcid;
    }
    FindHomePage(*served, *info);
    served->damage = CutShort(served->file);
    return served;
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && CompareFoldedUtf8(a.c_str(), b.c_str(), a.size()) == 0;
}

// The file of folder called name, its letters' case aside, as Windows finds
// it ("isetup.chm" is "ISetup.chm"): the one of that very name first; "" when
// there is none.
std::string FileIgnoringCase(const std::string& folder, const std::string& name)
{
    std::string exact = folder + "/" + name;
    if (access(exact.c_str(), F_OK) == 0)
        return exact;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::string found = entry.path().filename().string();
        if (SameNameIgnoringCase(found, name))
            return folder + "/" + found;
    }
    return "";
}

}  // namespace

ServedFile::~ServedFile()
{
    if (file)
        CloseHelpFile(file);
}

bool OpenLibrary(Library& library, const std::vector<std::string>& given)
{
    std::vector<std::pair<std::string, bool>> paths;  // and whether a folder held it
    for (const std::string& path : given) {
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            library.several = true;
            for (const std::string& found : HelpFilesBelow(path))
                paths.emplace_back(found, true);
        } else {
            paths.emplace_back(path, false);
        }
    }
    library.several = library.several || paths.size() > 1;
    for (const auto& [path, inFolder] : paths) {
        std::string error;
        auto served = OpenServedFile(path, error);
        if (!served && inFolder) {
            Complain(error + "; left out");
            continue;
        }
        if (!served) {
            Complain(error);
            return false;
        }
        // Its name, made unique; "~velkory" names the viewer's own files.
        std::string label = BaseName(path);
        auto taken = [&](const std::string& candidate) {
            if (candidate == "~velkory")
                return true;
            for (auto& other : library.files)
                if (SameNameIgnoringCase(other->label, candidate))
                    return true;
            return false;
        };
        for (int n = 2; taken(label); ++n)
            label = BaseName(path) + "~" + std::to_string(n);
        served->label = label;
        served->background = true;
        library.files.push_back(std::move(served));
        std::string folder = FolderOf(path);
        if (std::find(library.folders.begin(), library.folders.end(), folder) ==
            library.folders.end())
            library.folders.push_back(folder);
    }
    if (library.files.empty()) {
        Complain("no help file to serve in " + given[0]);
        return false;
    }
    return true;
}

ServedFile* ServedFileAt(Library& library, size_t number)
{
    std::lock_guard<std::mutex> guard(library.filesLock);
    return number < library.files.size() ? library.files[number].get() : nullptr;
}

size_t ServedFileNumber(Library& library, const ServedFile* served)
{
    std::lock_guard<std::mutex> guard(library.filesLock);
    for (size_t f = 0; f < library.files.size(); ++f)
        if (library.files[f].get() == served)
            return f;
    return 0;
}

ServedFile* FindServedFile(Library& library, const std::string& label)
{
    std::lock_guard<std::mutex> guard(library.filesLock);
    for (auto& served : library.files)
        if (SameNameIgnoringCase(served->label, label))
            return served.get();
    if (!EndsWithNoCase(label, ".chm") || label.find('/') != std::string::npos || label[0] == '.' ||
        library.files.size() >= MaxHelpFiles)
        return nullptr;
    for (const std::string& folder : library.folders) {
        std::string path = FileIgnoringCase(folder, label);
        struct stat st;
        if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        std::string error;
        auto served = OpenServedFile(path, error);
        if (!served)
            continue;
        served->label = BaseName(path);
        JoinSearch(library, *served);
        library.files.push_back(std::move(served));
        return library.files.back().get();
    }
    return nullptr;
}

bool ReadStored(ServedFile& served, const std::string& name, std::string& body, std::string& reason)
{
    reason.clear();
    std::lock_guard<std::mutex> guard(served.lock);
    // The name as given, else in another case; the container's own files
    // ("::DataSpace/...") are stored without the leading "/".
    std::string stored;
    for (const std::string& candidate : {name, name.substr(name.compare(0, 3, "/::") == 0)}) {
        if (FindDirectoryEntry(candidate.c_str(), served.file->Entries)) {
            stored = candidate;
            break;
        }
        auto it = served.lowerNames.find(FoldedText(candidate));
        if (it != served.lowerNames.end()) {
            stored = DirectoryAt(served.file, it->second)->Name;
            break;
        }
    }
    if (stored.empty() || stored.back() == '/')
        return false;
    uint32_t length = 0;
    uint8_t* data = nullptr;
    if (ExtractFile(served.file, stored.c_str(), &length, &data) != 0) {
        reason =
            !served.damage.empty() ? served.damage : ContainerErrorText(served.file->LastError);
        return false;
    }
    body.assign((const char*)data, length);
    free(data);
    return true;
}

std::shared_ptr<const nlohmann::json> TreeOf(ServedFile& served, bool contents)
{
    std::lock_guard<std::mutex> guard(served.lock);
    std::shared_ptr<const nlohmann::json>& tree = contents ? served.contents : served.keywords;
    if (!tree)
        tree = std::make_shared<const nlohmann::json>(
            contents ? ContentsTree(served.file, served.codePage)
                     : KeywordsTree(served.path.c_str()));
    return tree;
}
