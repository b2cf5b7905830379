// What the orvo-tool tests share: a fresh folder per test and the built program run in it as
// a user runs it (shell words, a locale), its exit status and both output streams kept.
// ORVO_TOOL_PATH is set by the test's target.
#pragma once

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tooltest {

using Bytes = std::vector<unsigned char>;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

class ToolRunner : public ::testing::Test {
protected:
    void SetUp() override { dir = testsupport::makeTempDir(); }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    std::string path(const std::string& name) const { return dir + "/" + name; }

    Bytes read(const std::string& name) const
    {
        std::ifstream f(path(name), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    std::string text(const std::string& name) const
    {
        const Bytes b = read(name);
        return std::string(b.begin(), b.end());
    }

    // Runs orvo-tool in the test's folder with `args` (shell words) under `locale`; `shell`
    // comes first (limits of the shell the tool runs in).
    Result run(const std::string& args, const char* locale = "C.UTF-8",
               const std::string& shell = "") const
    {
        const std::string out = path(".stdout");
        const std::string err = path(".stderr");
        const std::string cmd = "cd '" + dir + "' && " + shell + "env LC_ALL=" + locale +
                                " LANG=" + locale + " '" + ORVO_TOOL_PATH + "' " + args + " >'" +
                                out + "' 2>'" + err + "'";
        const int rc = std::system(cmd.c_str());
        Result r;
        r.status = (rc != -1 && WIFEXITED(rc)) ? WEXITSTATUS(rc) : -1;
        r.out = text(".stdout");
        r.err = text(".stderr");
        return r;
    }

    // Starts orvo-tool with `args` (one word each) in the test's folder without a shell in
    // between, so that the test can send it signals; stderr goes to .stderr-bg. Returns the
    // process id.
    pid_t start(const std::vector<std::string>& args) const
    {
        const std::string err = path(".stderr-bg");
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int nul = ::open("/dev/null", O_WRONLY);
            if (fd < 0 || nul < 0 || ::chdir(dir.c_str()) != 0)
                ::_exit(127);
            ::dup2(nul, 1);
            ::dup2(fd, 2);
            std::vector<char*> argv;
            std::string program = ORVO_TOOL_PATH;
            argv.push_back(program.data());
            std::vector<std::string> copies = args;
            for (std::string& a : copies)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        return pid;
    }
    // The exit status of a process from start(); 128 + N when signal N ended it.
    static int finish(pid_t pid)
    {
        int status = 0;
        if (::waitpid(pid, &status, 0) != pid)
            return -1;
        if (WIFSIGNALED(status))
            return 128 + WTERMSIG(status);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string dir;
};

} // namespace tooltest
