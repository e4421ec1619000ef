// A shelf of help files: those named before the keyword, a directory
// standing for every help file below it, else those of $VELKORY_PATH.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "host/commands/commands.h"
#include "host/host.h"
#include "host/os/os.h"

bool HasHelpFileName(const std::string& path)
{
    return path.size() > 4 && FoldedText(path.substr(path.size() - 4)) == ".chm";
}

namespace {

// The help files below dir, sorted by path; links to directories are not
// followed, so no loop can hold it up. A part that cannot be read is said.
void HelpFilesBelow(const std::string& dir, std::vector<std::string>& files)
{
    namespace fs = std::filesystem;
    std::vector<std::string> found;
    std::error_code ec;
    fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
    if (ec)
        Complain("cannot read the directory " + dir + ": " + ec.message());
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code kind;
        if (HasHelpFileName(it->path().filename().string()) && it->is_regular_file(kind))
            found.push_back(it->path().string());
    }
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
}

}  // namespace

int ShelfFiles(const std::vector<std::string>& given, std::vector<std::string>& files)
{
    std::vector<std::string> places = given;
    if (places.empty()) {
        const char* path = getenv("VELKORY_PATH");
        std::string list = path ? path : "";
        for (size_t start = 0; start <= list.size();) {
            size_t end = std::min(list.find(':', start), list.size());
            if (end > start)
                places.push_back(list.substr(start, end - start));
            start = end + 1;
        }
        if (places.empty())
            return UsageFailure("no help file given, and VELKORY_PATH names none");
    }
    for (const std::string& place : places) {
        if (PathKindAt(place, true) == PathDirectory)
            HelpFilesBelow(place, files);
        else
            files.push_back(place);  // what it is, the command says
    }
    if (files.empty()) {
        Complain("no help file below " + places[0] + (places.size() > 1 ? " and the others" : ""));
        return ExitFailed;
    }
    return ExitOk;
}
