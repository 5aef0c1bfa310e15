#include "tests/integration/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

extern char** environ;

namespace rqm5::it {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::vector<std::string>& extraEnvironment) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

    std::vector<std::string> argStrings = {program};
    argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
    envStrings.insert(envStrings.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> envp;
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);

    const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) close(outFd_);
    if (errFd_ >= 0) close(errFd_);
}

void ChildProcess::Drain(int timeoutMs) {
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) <= 0) return;
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) (i == 0 ? output_ : errors_).append(buffer, static_cast<std::size_t>(n));
        if (n == 0) {
            close(fds[i].fd);
            (i == 0 ? outFd_ : errFd_) = -1;
        }
    }
}

std::string ChildProcess::ReadFirstLine(std::chrono::seconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (output_.find('\n') == std::string::npos && outFd_ >= 0 &&
           std::chrono::steady_clock::now() < end) {
        Drain(100);
    }
    const auto newline = output_.find('\n');
    if (newline == std::string::npos) return "";
    firstLineTaken_ = newline + 1;
    return output_.substr(0, newline);
}

int ChildProcess::Wait(std::chrono::seconds bound) {
    if (pid_ <= 0) return status_;
    const auto end = std::chrono::steady_clock::now() + bound;
    int status = 0;
    while (true) {
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) break;
        if (std::chrono::steady_clock::now() >= end) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            return status_ = -1;
        }
        Drain(50);
    }
    pid_ = -1;
    while (outFd_ >= 0 || errFd_ >= 0) {
        if (outFd_ < 0 && errFd_ < 0) break;
        const std::size_t before = output_.size() + errors_.size();
        Drain(200);
        if (output_.size() + errors_.size() == before) break;
    }
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return status_;
}

int ChildProcess::Terminate() {
    if (pid_ > 0) kill(pid_, SIGTERM);
    return Wait();
}

}  // namespace rqm5::it
