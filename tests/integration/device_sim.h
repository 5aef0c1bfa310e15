#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/integration/child_process.h"

namespace rqm5::it {

// rqm5-devsim on a pseudo-terminal for one test: its flash dump and its frame log land in a fresh
// folder, and Stop() ends it so that both can be read.
class DeviceSim {
  public:
    explicit DeviceSim(std::vector<std::string> options = {});
    ~DeviceSim();

    const std::string& path() const { return path_; }
    // Ends the simulator (which writes its dump) and returns its exit status.
    int Stop();
    // The device's flash, 0xC0000..0xFFFFF; empty before Stop().
    std::vector<std::uint8_t> Flash() const;
    // The frame log, one entry per line.
    std::vector<std::string> Log() const;
    std::vector<std::string> LogLinesStartingWith(const std::string& prefix) const;

  private:
    std::filesystem::path folder_;
    std::unique_ptr<ChildProcess> process_;
    std::string path_;
};

}  // namespace rqm5::it
