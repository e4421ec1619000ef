// The container commands: list, cat, extract and test, on the reader itself
// rather than through the module's exports.
//
// Stored names are untrusted. extract never writes outside its target
// directory: each name is split into components, those that would climb out
// ("..") make the entry skipped, empty and "." components vanish, a leading
// "/" is simply the container's root, and on Windows characters and device
// names that the file system cannot hold are mapped to a safe form. Every
// directory on the way is opened without following symbolic links, so a link
// already inside the target cannot lead a write out of it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "container/container.h"
#include "host/commands/commands.h"
#include "host/host.h"
#include "host/os/os.h"

namespace {

struct ContainerScope {
    HelpFile* file = nullptr;
    ContainerCut cut = {};  // where the file ends before a stored file, if it does
    ~ContainerScope()
    {
        if (file)
            CloseHelpFile(file);
    }
    // Says once, before any line about a single stored file, that the file
    // is cut short; whether it is.
    bool ReportCut(const std::string& path) const
    {
        if (cut.Part != CutNone)
            Complain(path + ": " + CutText(cut));
        return cut.Part != CutNone;
    }
};

bool OpenContainer(const std::string& path, ContainerScope& scope)
{
    if (!IsHelpFile(path))
        return false;
    errno = 0;
    scope.file = OpenHelpFile(path.c_str());
    if (!scope.file) {
        Complain(path + ": " + (errno ? strerror(errno) : "cannot be opened"));
        return false;
    }
    FindContainerCut(scope.file, &scope.cut);
    return true;
}

bool IsDirectoryName(const char* name)
{
    size_t length = strlen(name);
    return length > 0 && name[length - 1] == '/';
}

// The stored name as relative path components below the target directory;
// false, with the reason, when the name cannot be extracted safely.
bool SplitStoredName(const std::string& name, std::vector<std::string>& components,
                     std::string& reason)
{
    components.clear();
    std::string current;
    auto finish = [&]() -> bool {
        if (current == "..") {
            reason = "a '..' component would leave the directory";
            return false;
        }
        if (!current.empty() && current != ".")
            components.push_back(current);
        current.clear();
        return true;
    };
    for (char c : name) {
        bool separator = c == '/' || (System.backslashSeparates && c == '\\');
        if (separator) {
            if (!finish())
                return false;
        } else {
            current += c;
        }
    }
    if (!finish())
        return false;
    // On Windows "C:" alone would name a drive; the ':' is mapped anyway.
    for (std::string& component : components)
        component = NativeComponent(component);
    for (const std::string& component : components) {
        if (component.size() > 255) {
            reason = "a component is longer than 255 bytes";
            return false;
        }
    }
    return true;
}

std::string JoinComponents(const std::vector<std::string>& components)
{
    std::string out;
    for (const std::string& component : components) {
        if (!out.empty())
            out += '/';
        out += component;
    }
    return out;
}

// One line of extract's report: what happened, the stored name, and the
// local name or the reason, separated by tabs for scripts. Failures go to
// stderr; the listing on stdout says what was mapped or skipped.
void Report(const char* what, const std::string& name, const std::string& detail)
{
    bool failure = strcmp(what, "failed") == 0;
    if (failure)
        fflush(stdout);
    fprintf(failure ? stderr : stdout, "%s\t%s\t%s\n", what, name.c_str(), detail.c_str());
}

}  // namespace

int ListCommand(const CommandLine& line)
{
    const std::string& path = line.arguments[0];
    ContainerScope container;
    if (!OpenContainer(path, container))
        return 1;
    bool cut = container.ReportCut(path);
    int32_t count = DirectoryCount(container.file);
    for (int32_t i = 0; i < count; ++i) {
        const DirectoryEntry* entry = DirectoryAt(container.file, i);
        if (!entry)
            continue;
        printf("%u\t%u\t%u\t%s\n", entry->Section, entry->Offset, entry->Length,
               PrintableName(entry->Name).c_str());
    }
    return cut ? 1 : 0;
}

int CatCommand(const CommandLine& line)
{
    const std::string& path = line.arguments[0];
    const std::string& name = line.arguments[1];
    ContainerScope container;
    if (!OpenContainer(path, container))
        return 1;
    bool listed = false;
    int32_t count = DirectoryCount(container.file);
    for (int32_t i = 0; i < count && !listed; ++i) {
        const DirectoryEntry* entry = DirectoryAt(container.file, i);
        listed = entry && name == entry->Name;
    }
    if (!listed) {
        Complain(path + ": no stored file is called '" + PrintableName(name.c_str()) + "'");
        return 1;
    }
    uint32_t length = 0;
    uint8_t* data = nullptr;
    if (ExtractFile(container.file, name.c_str(), &length, &data) != 0) {
        Complain(path + ": '" + PrintableName(name.c_str()) + "' cannot be extracted: " +
                 (container.cut.Part != CutNone ? CutText(container.cut)
                                                : ContainerErrorText(container.file->LastError)));
        return 1;
    }
    SetBinaryOutput();
    size_t wrote = length ? fwrite(data, 1, length, stdout) : 0;
    free(data);
    if (wrote != length || fflush(stdout) != 0) {
        Complain("cannot write to standard output");
        return 1;
    }
    return 0;
}

namespace {

// Runs StreamStoredFiles with the workers that -j asks for: the handler gets
// every wanted stored file, those of a compressed section in offset order
// (without their bytes when discard is set).
int StreamWanted(HelpFile* file, const std::vector<uint8_t>& wanted, StoredFileHandler handler,
                 void* context, bool discard, int jobs)
{
    if (jobs <= 0)
        jobs = DefaultJobs();
    StreamOptions options = {1, nullptr, nullptr, nullptr, wanted.data(), discard};
    if (jobs == 1)
        return StreamStoredFiles(file, &options, handler, context);
    WorkerPool pool(jobs);
    options.Workers = jobs;
    options.StartJobs = WorkerPool::StartJobs;
    options.WaitJobs = WorkerPool::WaitJobs;
    options.RunContext = &pool;
    return StreamStoredFiles(file, &options, handler, context);
}

struct ExtractPass {
    std::string root;
    std::vector<std::vector<std::string>> components;  // per directory index
    uint64_t files = 0, bytes = 0;
    int skipped = 0, failed = 0;
};

int WriteExtracted(void* context, int32_t index, const DirectoryEntry* entry, int error,
                   const uint8_t* data, uint32_t length)
{
    ExtractPass* pass = (ExtractPass*)context;
    const std::string shown = PrintableName(entry->Name);
    if (error != ContainerOk) {
        Report("failed", shown, std::string("cannot be extracted: ") + ContainerErrorText(error));
        ++pass->failed;
        return 0;
    }
    std::string reason;
    WriteResult wrote =
        WriteBelow(pass->root, pass->components[(size_t)index], false, data, length, reason);
    if (wrote != Written) {
        Report(wrote == Refused ? "skipped" : "failed", shown, reason);
        ++(wrote == Refused ? pass->skipped : pass->failed);
        return 0;
    }
    ++pass->files;
    pass->bytes += length;
    return 0;
}

struct TestPass {
    uint64_t files = 0, bytes = 0;
    int failed = 0;
};

int CheckExtracted(void* context, int32_t, const DirectoryEntry* entry, int error, const uint8_t*,
                   uint32_t length)
{
    TestPass* pass = (TestPass*)context;
    if (error != ContainerOk) {
        printf("FAILED %s: %s\n", PrintableName(entry->Name).c_str(), ContainerErrorText(error));
        ++pass->failed;
    } else if (length != entry->Length) {
        printf("FAILED %s: %u bytes instead of %u\n", PrintableName(entry->Name).c_str(), length,
               entry->Length);
        ++pass->failed;
    } else {
        ++pass->files;
        pass->bytes += length;
    }
    return 0;
}

}  // namespace

int ExtractCommand(const CommandLine& line)
{
    const std::string& path = line.arguments[0];
    const std::string& target = line.arguments[1];
    ContainerScope container;
    if (!OpenContainer(path, container))
        return 1;
    ExtractPass pass;
    std::string error;
    if (!MakeTargetDirectory(target, pass.root, error)) {
        Complain("cannot create " + target + ": " + error);
        return 1;
    }
    bool cut = container.ReportCut(path);

    // Names are checked and directories made in directory order; the files
    // are then written as the pass hands them out.
    std::unordered_set<std::string> names, outputs;
    int32_t count = DirectoryCount(container.file);
    std::vector<uint8_t> wanted((size_t)count, 0);
    pass.components.resize((size_t)count);
    for (int32_t i = 0; i < count; ++i) {
        const DirectoryEntry* entry = DirectoryAt(container.file, i);
        if (!entry)
            continue;
        const std::string name = entry->Name;
        const std::string shown = PrintableName(entry->Name);
        std::vector<std::string>& components = pass.components[(size_t)i];
        std::string reason;
        bool directory = IsDirectoryName(entry->Name);

        if (!names.insert(name).second) {
            Report("skipped", shown, "the name is stored twice; the first one was extracted");
            ++pass.skipped;
            continue;
        }
        if (!SplitStoredName(name, components, reason)) {
            Report("skipped", shown, reason);
            ++pass.skipped;
            continue;
        }
        if (components.empty()) {
            if (!directory) {
                Report("skipped", shown, "the name has no file name in it");
                ++pass.skipped;
            }
            continue;  // the root itself
        }
        std::string relative = JoinComponents(components);
        std::string key = System.caseInsensitiveFiles ? FoldedText(relative) : relative;
        std::string expected = name;
        while (!expected.empty() && expected[0] == '/')
            expected.erase(0, 1);
        if (directory && !expected.empty())
            expected.pop_back();
        if (relative != expected)
            Report("mapped", shown, PrintableName(relative.c_str()));

        if (directory) {
            WriteResult made = WriteBelow(pass.root, components, true, nullptr, 0, reason);
            if (made != Written) {
                Report(made == Refused ? "skipped" : "failed", shown, reason);
                ++(made == Refused ? pass.skipped : pass.failed);
            }
            continue;
        }
        if (!outputs.insert(key).second) {
            Report("skipped", shown,
                   "another stored name was already written as " + PrintableName(relative.c_str()));
            ++pass.skipped;
            continue;
        }
        wanted[(size_t)i] = 1;
    }
    if (StreamWanted(container.file, wanted, WriteExtracted, &pass, false, line.jobs) < 0) {
        Complain(path + ": extraction stopped: " + ContainerErrorText(container.file->LastError));
        return 1;
    }
    // The reader leaves out names it cannot hold; they are not written either.
    int32_t longNames = DirectoryLongNameCount(container.file);
    if (longNames > 0) {
        Report("skipped", "(" + std::to_string(longNames) + " names)", "longer than 255 bytes");
        pass.skipped += longNames;
    }
    printf("%llu files, %llu bytes extracted to %s", (unsigned long long)pass.files,
           (unsigned long long)pass.bytes, target.c_str());
    if (pass.skipped)
        printf("; %d skipped", pass.skipped);
    if (pass.failed)
        printf("; %d failed", pass.failed);
    printf("\n");
    return pass.failed || cut ? 1 : 0;
}

int TestCommand(const CommandLine& line)
{
    const std::string& path = line.arguments[0];
    ContainerScope container;
    if (!OpenContainer(path, container))
        return 1;
    bool cut = container.ReportCut(path);
    // A directory, or a later entry of a name already tested, is not tested.
    std::unordered_set<std::string> names;
    int32_t count = DirectoryCount(container.file);
    std::vector<uint8_t> wanted((size_t)count, 0);
    for (int32_t i = 0; i < count; ++i) {
        const DirectoryEntry* entry = DirectoryAt(container.file, i);
        wanted[(size_t)i] =
            entry && !IsDirectoryName(entry->Name) && names.insert(entry->Name).second;
    }
    TestPass pass;
    if (StreamWanted(container.file, wanted, CheckExtracted, &pass, true, line.jobs) < 0) {
        Complain(path + ": the test stopped: " + ContainerErrorText(container.file->LastError));
        return 1;
    }
    if (pass.failed) {
        printf("%s: %d of %llu files failed\n", path.c_str(), pass.failed,
               (unsigned long long)(pass.files + (uint64_t)pass.failed));
        return 1;
    }
    if (cut)
        return 1;
    printf("%s: OK, %llu files, %llu bytes\n", path.c_str(), (unsigned long long)pass.files,
           (unsigned long long)pass.bytes);
    return 0;
}
