// Text and output helpers shared by the host's parts.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "container/container.h"
#include "host/host.h"
#include "host/os/os.h"
#include "lookup/lookup.h"
#include "platform/terminal_text.h"
#include "platform/text.h"

std::string CompanionPath(const std::string& name, const char* installed)
{
    std::string beside = ExecutableDirectory() + System.pathSeparator + name;
    if (installed != nullptr && !PathExists(beside)) {
        std::string there = ExecutableDirectory() + "/" + installed;
        if (PathExists(there))
            return there;
    }
    return beside;
}

void Complain(const std::string& message)
{
    fflush(stdout);
    fprintf(stderr, "velkory: %s\n", message.c_str());
    fflush(stderr);
}

int UsageFailure(const std::string& message)
{
    fflush(stdout);
    fprintf(stderr, "velkory: %s (try 'velkory --help')\n", message.c_str());
    fflush(stderr);
    return ExitUsage;
}

std::string PrintableName(const char* name)
{
    std::string out;
    for (const unsigned char* p = (const unsigned char*)name; *p; ++p) {
        if (*p < 0x20 || *p == 0x7f) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\x%02x", *p);
            out += escape;
        } else {
            out += (char)*p;
        }
    }
    return out;
}

std::string OemTextForDisplay(const char* text)
{
    size_t length = strlen(text);
    std::vector<char> buffer(length * 4 + 8);
    OemToTerminal(text, buffer.data(), buffer.size());
    return PrintableName(buffer.data());
}

std::string FoldedText(std::string text)
{
    for (char& c : text)
        c = FoldAscii(c);
    return text;
}

bool ReadWholeFile(const std::string& path, std::string& contents)
{
    FILE* stream = fopen(path.c_str(), "rb");
    if (!stream)
        return false;
    contents.clear();
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, stream)) > 0)
        contents.append(buffer, got);
    bool ok = !ferror(stream);
    int error = errno;
    fclose(stream);
    errno = error;
    return ok;
}

bool IsHelpFile(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        Complain(path + ": " + strerror(errno));
        return false;
    }
    // Anything else (a directory, a device, a pipe) is refused before it is
    // opened: a pipe would wait for a writer for ever.
    if (S_ISDIR(st.st_mode)) {
        Complain(path + ": is a directory, not a help file");
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        Complain(path + ": not a regular file, so not a help file");
        return false;
    }
    if (st.st_size == 0) {
        Complain(path + ": the file is empty, not a help file");
        return false;
    }
    FILE* stream = fopen(path.c_str(), "rb");
    if (!stream) {
        Complain(path + ": " + strerror(errno));
        return false;
    }
    char signature[4] = {0};
    size_t got = fread(signature, 1, sizeof signature, stream);
    fclose(stream);
    if (got != sizeof signature || memcmp(signature, "ITSF", 4) != 0) {
        Complain(path + ": not a help file (no ITSF signature)");
        return false;
    }
    // A file that ends before its header or its directory is of no use to
    // any command.
    ContainerCut cut;
    if (FindHeaderCut(path.c_str(), &cut) != 0) {
        Complain(path + ": " + strerror(errno));
        return false;
    }
    if (cut.Part != CutNone) {
        Complain(path + ": " + CutText(cut));
        return false;
    }
    return true;
}

std::string CutText(const ContainerCut& cut)
{
    char text[512];
    DescribeContainerCut(&cut, text, sizeof text);
    return PrintableName(text);
}

bool ExplainCut(const std::string& path)
{
    HelpFile* file = OpenHelpFile(path.c_str());
    if (!file)
        return false;
    ContainerCut cut;
    FindContainerCut(file, &cut);
    CloseHelpFile(file);
    if (cut.Part == CutNone)
        return false;
    Complain(path + ": " + CutText(cut));
    return true;
}

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    return FoldedText(text.substr(0, strlen(prefix))) == prefix;
}

// "a/./b/../c" as "a/c"; false when it climbs above the root.
bool Normalize(const std::string& path, std::string& out)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (parts.empty())
                return false;
            parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    out.clear();
    for (const std::string& part : parts)
        out += (out.empty() ? "" : "/") + part;
    return true;
}

}  // namespace

std::string PercentDecode(const std::string& text)
{
    std::string out(text.size(), '\0');
    out.resize(DecodePercentEscapes(text.data(), text.size(), out.data()));
    return out;
}

bool ResolveLink(const std::string& link, const std::string& folder, ResolvedLink& out)
{
    out = ResolvedLink();
    std::string target = link;
    size_t mark = target.find('#');
    if (mark != std::string::npos) {
        out.anchor = PercentDecode(target.substr(mark + 1));
        target.erase(mark);
    }
    target = PercentDecode(target);
    for (char& c : target)
        if (c == '\\')
            c = '/';
    std::string path;
    size_t separator = target.find("::");
    if (separator != std::string::npos &&
        (StartsWithNoCase(target, "ms-its:") || StartsWithNoCase(target, "mk:@msitstore:") ||
         StartsWithNoCase(target, "its:"))) {
        std::string file = target.substr(0, separator);
        out.file = file.substr(file.find_last_of(":/") + 1);
        path = target.substr(separator + 2);
    } else if (target.find(':') != std::string::npos) {
        return false;  // out of the help file
    } else {
        path = (!target.empty() && target[0] == '/') ? target : folder + target;
    }
    return Normalize(path, out.path) && !out.path.empty();
}

// The stored name of the contents sitemap: the one #SYSTEM names when it is
// stored, else the first *.hhc.
std::string ContentsName(HelpFile* file)
{
    SystemInfo info;
    if (ReadSystemInfo(file, &info) && info.contentsFile[0] != '\0') {
        std::string named = info.contentsFile;
        for (char& c : named)
            if (c == '\\')
                c = '/';
        if (named[0] != '/')
            named = "/" + named;
        if (FindDirectoryEntry(named.c_str(), file->Entries))
            return named;
    }
    int32_t count = DirectoryCount(file);
    for (int32_t i = 0; i < count; ++i) {
        const DirectoryEntry* entry = DirectoryAt(file, i);
        std::string name = entry ? FoldedText(entry->Name) : "";
        if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".hhc") == 0)
            return entry->Name;
    }
    return "";
}
