// Runs the built velkory program in a private environment: its own registry
// file and temporary directory, no terminal, no pager or editor from the
// user's environment.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct RunResult {
    int status = -1;  // exit status, or -1 when it did not exit normally
    std::string out, err;
};

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

inline void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

class HostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* bin = getenv("VELKORY_BIN");
        program_ = std::string(bin ? bin : VELKORY_BINARY_DIR "/bin") + "/velkory";
        if (access(program_.c_str(), X_OK) != 0)
            GTEST_SKIP() << "the velkory program is not built at " << program_;
        char pattern[] = "/tmp/velkory-host-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        tmp_ = root_ + "/tmp";
        fs::create_directories(tmp_);
        registry_ = root_ + "/registry.reg";
    }
    void TearDown() override
    {
        if (!root_.empty()) {
            std::error_code ec;
            fs::remove_all(root_, ec);
        }
    }

    // Runs velkory with args; env adds or overrides variables ("" unsets).
    RunResult Run(const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env = {})
    {
        return RunCommand(program_, args, env);
    }

    // Runs program (a path, or a name looked up on PATH) the same way.
    RunResult RunCommand(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {})
    {
        std::string outPath = root_ + "/stdout", errPath = root_ + "/stderr";
        pid_t pid = fork();
        if (pid == 0) {
            for (const char* name :
                 {"VELKORY_VIEWER", "VELKORY_EDITOR", "PAGER", "VISUAL", "EDITOR", "TMUX",
                  "VELKORY_RENDERER", "VELKORY_CODEPAGES", "VELKORY_PATH", "COLUMNS"})
                unsetenv(name);
            setenv("VELKORY_REGISTRY", registry_.c_str(), 1);
            setenv("TMPDIR", tmp_.c_str(), 1);
            // The C locale unless a test asks for another: code pages 1252 and 437.
            unsetenv("LANG");
            unsetenv("LC_CTYPE");
            setenv("LC_ALL", "C", 1);
            for (const auto& [name, value] : env) {
                if (value.empty())
                    unsetenv(name.c_str());
                else
                    setenv(name.c_str(), value.c_str(), 1);
            }
            int in = open("/dev/null", O_RDONLY);
            int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (in < 0 || out < 0 || err < 0)
                _exit(126);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execvp(program.c_str(), argv.data());
            _exit(127);
        }
        RunResult result;
        int status = 0;
        if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            result.status = WEXITSTATUS(status);
        result.out = ReadText(outPath);
        result.err = ReadText(errPath);
        return result;
    }

    // An executable shell script in the test's directory.
    std::string Script(const std::string& name, const std::string& body)
    {
        std::string path = root_ + "/" + name;
        WriteText(path, "#!/bin/sh\n" + body);
        chmod(path.c_str(), 0755);
        return path;
    }

    // A stand-in program called name in the test's bin/ that writes its
    // arguments, one a line, to log and the file it is given (its last
    // argument) to log + ".shown".
    std::string RecordingProgram(const std::string& name, const std::string& log)
    {
        fs::create_directories(root_ + "/bin");
        std::string path = root_ + "/bin/" + name;
        WriteText(path,
                  "#!/bin/sh\nfor a; do printf '%s\\n' \"$a\"; done > '" + log +
                      "'\nfor a; do last=$a; done\ncat \"$last\" > '" + log + ".shown'\n");
        chmod(path.c_str(), 0755);
        return path;
    }

    std::string program_, root_, tmp_, registry_;
};

// A usage error: status 2, one line on stderr, nothing on stdout.
#define EXPECT_USAGE_ERROR(result)                                                                 \
    do {                                                                                           \
        const RunResult& r_ = (result);                                                            \
        EXPECT_EQ(r_.status, 2) << r_.err;                                                         \
        EXPECT_EQ(Lines(r_.err).size(), 1u) << r_.err;                                             \
        EXPECT_EQ(r_.out, "");                                                                     \
    } while (0)
