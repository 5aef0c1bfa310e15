#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace rqm5::it {

// A program started for a test, with its standard output and error collected. Every wait is
// bounded (a safety net against a hang, not a timing assumption): a child still running then is
// killed and the test fails instead of hanging.
class ChildProcess {
  public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& extraEnvironment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The first line the child writes to standard output, or "" if none came within the bound.
    std::string ReadFirstLine(std::chrono::seconds bound = std::chrono::seconds(30));
    // Waits for the child to end; returns its exit status, or -1 after a signal or the bound.
    int Wait(std::chrono::seconds bound = std::chrono::seconds(120));
    // SIGTERM, then Wait().
    int Terminate();

    const std::string& output() const { return output_; }
    const std::string& errors() const { return errors_; }

  private:
    void Drain(int timeoutMs);

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string output_;
    std::string errors_;
    std::size_t firstLineTaken_ = 0;
    int status_ = -1;
};

}  // namespace rqm5::it
