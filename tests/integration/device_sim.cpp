#include "tests/integration/device_sim.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace rqm5::it {

DeviceSim::DeviceSim(std::vector<std::string> options) {
    folder_ = std::filesystem::temp_directory_path() /
              ("rqm5-it-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(folder_);
    options.insert(options.end(), {"--dump", (folder_ / "flash.bin").string(), "--log",
                                   (folder_ / "frames.log").string()});
    process_ = std::make_unique<ChildProcess>(RQM5_DEVSIM_PATH, options);
    path_ = process_->ReadFirstLine();
    if (path_.empty()) {
        throw std::runtime_error("rqm5-devsim printed no path: " + process_->errors());
    }
}

DeviceSim::~DeviceSim() {
    process_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

int DeviceSim::Stop() {
    return process_->Terminate();
}

std::vector<std::uint8_t> DeviceSim::Flash() const {
    std::ifstream in(folder_ / "flash.bin", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> DeviceSim::Log() const {
    std::ifstream in(folder_ / "frames.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> DeviceSim::LogLinesStartingWith(const std::string& prefix) const {
    std::vector<std::string> matching;
    for (const std::string& line : Log()) {
        if (line.rfind(prefix, 0) == 0) matching.push_back(line);
    }
    return matching;
}

}  // namespace rqm5::it
