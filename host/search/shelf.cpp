// The help files below a directory: a shelf (search.h).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "host/search/search.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

bool BeginsAsHelpFile(const fs::path& path)
{
    FILE* stream = fopen(path.c_str(), "rb");
    if (!stream)
        return false;
    char signature[4] = {0};
    bool yes = fread(signature, 1, sizeof signature, stream) == sizeof signature &&
        memcmp(signature, "ITSF", 4) == 0;
    fclose(stream);
    return yes;
}

}  // namespace

std::vector<std::string> HelpFilesBelow(const std::string& dir)
{
    std::vector<std::string> files;
    std::error_code ec;
    // Symbolic links are not followed: a link to a parent would never end.
    fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec),
        end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code statusError;
        if (!it->is_regular_file(statusError) || it->is_symlink(statusError))
            continue;
        std::string name = it->path().filename().string();
        if (name.size() < 5 || !StartsWithFolded(name.data() + name.size() - 4, 4, ".chm", 4))
            continue;
        if (BeginsAsHelpFile(it->path()))
            files.push_back(it->path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}
