// Helpers of the platform-layer tests: a private temporary directory per test
// with VELKORY_REGISTRY pointing inside it, and whole-file reads and writes.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/internal.h"
#include "platform/platform.h"

inline std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteWholeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline bool PathExists(const std::string& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

inline std::vector<std::string> DirectoryNames(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        closedir(dir);
    }
    return names;
}

inline void RemoveTree(const std::string& path)
{
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return;
    if (S_ISDIR(info.st_mode)) {
        for (const std::string& name : DirectoryNames(path))
            RemoveTree(path + "/" + name);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

// Each test gets its own directory; the registry file lies one directory
// further down, which the layer has to create.
class PlatformTest : public ::testing::Test {
protected:
    std::string dir;
    std::string registryDir;
    std::string registryPath;

    void SetUp() override
    {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velkory-platform-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        ASSERT_NE(mkdtemp(buffer.data()), nullptr);
        dir = buffer.data();
        registryDir = dir + "/config";
        registryPath = registryDir + "/registry.reg";
        setenv("VELKORY_REGISTRY", registryPath.c_str(), 1);
        unsetenv("VELKORY_CODEPAGES");
    }

    void TearDown() override
    {
        SetRegistryFailBeforeRename(false);
        unsetenv("VELKORY_REGISTRY");
        unsetenv("VELKORY_CODEPAGES");
        RemoveTree(dir);
    }

    // Writes the registry file by hand (creating its directory).
    void WriteRegistry(const std::string& text)
    {
        mkdir(registryDir.c_str(), 0700);
        WriteWholeFile(registryPath, text);
    }
};
