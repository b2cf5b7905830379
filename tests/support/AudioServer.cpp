#include "tests/support/AudioServer.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testsupport {

namespace {

bool onPath(const char* program)
{
    const char* path = std::getenv("PATH");
    std::string all = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= all.size()) {
        const std::size_t end = all.find(':', start);
        const std::string dir = all.substr(start, end == std::string::npos ? std::string::npos
                                                                           : end - start);
        if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return false;
}

} // namespace

bool audioRequired()
{
    const char* v = std::getenv("ORVO_REQUIRE_AUDIO");
    return v && std::string(v) == "1";
}

AudioServer::~AudioServer() { stop(); }

bool AudioServer::start(const std::string& folder, std::string& why, int rateHz)
{
    rateHz_ = rateHz;
    namespace fs = std::filesystem;
    if (!onPath("pulseaudio") || !onPath("pactl")) {
        why = "pulseaudio or pactl is not installed";
        return false;
    }
    runtime_ = folder + "/runtime";
    std::error_code ec;
    fs::create_directories(runtime_, ec);
    fs::create_directories(folder + "/home", ec);
    ::chmod(runtime_.c_str(), 0700);
    const std::string log = folder + "/pulseaudio.log";
    const std::string sink = "module-null-sink sink_name=orvo_loop rate=" + std::to_string(rateHz) +
                             " channels=2 format=float32le";

    const pid_t pid = ::fork();
    if (pid < 0) {
        why = "fork failed";
        return false;
    }
    if (pid == 0) {
        ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        ::setenv("HOME", (folder + "/home").c_str(), 1);
        ::unsetenv("PULSE_SERVER");
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        ::execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                 "--use-pid-file=no", "--system=false", "--disable-shm=yes", "--log-target=stderr",
                 "-L", "module-native-protocol-unix auth-anonymous=1", "-L", sink.c_str(),
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    pid_ = pid;
    ::setenv("PULSE_SERVER", serverAddress().c_str(), 1);
    ::setenv("PULSE_SINK", "orvo_loop", 1);
    ::setenv("PULSE_SOURCE", "orvo_loop.monitor", 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            why = "pulseaudio exited at once (see " + log + ")";
            return false;
        }
        if (pactl("info") == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    stop();
    why = "pulseaudio did not answer within 10 s (see " + log + ")";
    return false;
}

int AudioServer::pactl(const std::string& args) const
{
    const std::string cmd =
        "PULSE_SERVER='" + serverAddress() + "' pactl " + args + " >/dev/null 2>&1";
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

bool AudioServer::loadLadspaSink(const std::string& name, const std::string& plugin,
                                 const std::string& label, const std::string& control)
{
    const std::string args = "load-module module-ladspa-sink sink_name=" + name +
                             " sink_master=orvo_loop plugin=" + plugin + " label=" + label +
                             " control=" + control;
    if (pactl(args) != 0)
        return false;
    ::setenv("PULSE_SINK", name.c_str(), 1);
    return true;
}

bool AudioServer::setStreamGain(const std::string& factor) const
{
    const std::string env = "PULSE_SERVER='" + serverAddress() + "' ";
    const std::string cmd = "n=0; for i in $(" + env +
                            "pactl list short sink-inputs | grep protocol-native | cut -f1); "
                            "do " +
                            env + "pactl set-sink-input-volume \"$i\" '" + factor +
                            "' || exit 1; n=1; done >/dev/null 2>&1; test $n = 1";
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) && WEXITSTATUS(rc) == 0;
}

void AudioServer::kill()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

void AudioServer::stop()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill();
}

} // namespace testsupport
