// The real rqm5-devsim binary on a real pseudo-terminal, driven like a serial port:
// opened, set raw, written, read with poll() and closed again for every exchange.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "devsim_test_bytes.h"

extern char** environ;

namespace rqm5::devsim {
namespace {

using namespace rqm5::devsim::testing;
namespace fs = std::filesystem;

// Only a safety net for a broken simulator; every wait ends on its event.
constexpr int kSafetyMs = 20'000;

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::int64_t>(left.count(), 0));
}

// Reads until `count` bytes came, the other end hung up, or the safety bound ran out.
ByteVector readBytes(int fd, std::size_t count, bool* hungUp = nullptr) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSafetyMs);
    ByteVector received;
    while (received.size() < count) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, remainingMs(deadline)) <= 0) {
            break;
        }
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, count - received.size()));
        if (n <= 0) {
            if (hungUp) {
                *hungUp = true;
            }
            break;
        }
        received.insert(received.end(), buffer, buffer + n);
    }
    return received;
}

void writeAll(int fd, const ByteVector& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + sent, bytes.size() - sent);
        ASSERT_GT(n, 0) << std::strerror(errno);
        sent += static_cast<std::size_t>(n);
    }
}

void setSpeed(int fd, speed_t speed) {
    termios settings{};
    ASSERT_EQ(::tcgetattr(fd, &settings), 0);
    ::cfmakeraw(&settings);
    ::cfsetispeed(&settings, speed);
    ::cfsetospeed(&settings, speed);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &settings), 0);
}

// One port session, as the updater's port makes it: open, raw, speed, exclusive.
class Port {
  public:
    Port(const std::string& path, speed_t speed) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(fd_, 0) << path << ": " << std::strerror(errno);
        if (fd_ >= 0) {
            setSpeed(fd_, speed);
            ::ioctl(fd_, TIOCEXCL);
        }
    }
    ~Port() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    int fd() const { return fd_; }
    // Sends and returns the echo and answer: `answerLength` bytes beyond the echo.
    ByteVector exchange(const ByteVector& bytes, std::size_t answerLength) {
        writeAll(fd_, bytes);
        return readBytes(fd_, bytes.size() + answerLength);
    }

  private:
    int fd_ = -1;
};

class Simulator {
  public:
    explicit Simulator(std::vector<std::string> arguments) {
        int out[2];
        if (::pipe(out) != 0) {
            ADD_FAILURE() << "pipe";
            return;
        }
        arguments.insert(arguments.begin(), RQM5_DEVSIM_BINARY);
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const int failed = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (failed != 0) {
            ADD_FAILURE() << "cannot start " << argv[0];
            pid_ = -1;
            ::close(out[0]);
            return;
        }
        // The first line is the terminal's path.
        while (true) {
            const ByteVector byte = readBytes(out[0], 1);
            if (byte.empty() || byte[0] == '\n') {
                break;
            }
            slavePath_.push_back(static_cast<char>(byte[0]));
        }
        ::close(out[0]);
    }
    ~Simulator() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    const std::string& slavePath() const { return slavePath_; }

    // Waits for the exit; the wait is bounded only because the process was told to end.
    int waitForExit() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    int terminate() {
        ::kill(pid_, SIGTERM);
        return waitForExit();
    }

  private:
    pid_t pid_ = -1;
    std::string slavePath_;
};

class DevsimProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "rqm5-devsim-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    ByteVector fileBytes(const fs::path& path) const {
        std::ifstream in(path, std::ios::binary);
        return ByteVector(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::string> fileLines(const fs::path& path) const {
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    fs::path dir;
};

TEST_F(DevsimProcessTest, ServesAnUpdateAcrossReopenedPorts) {
    const fs::path dump = dir / "flash.bin", log = dir / "log.txt", link = dir / "COM1";
    Simulator sim({"--flash-fill", "00", "--dump", dump.string(), "--log", log.string(), "--link",
                   link.string()});
    ASSERT_FALSE(sim.slavePath().empty());
    ASSERT_EQ(fs::read_symlink(link), fs::path(sim.slavePath()));

    struct Step {
        ByteVector sent;
        std::string answer;
    };
    const ByteVector page = pagePattern(77);
    const Step steps[] = {
        {bytesOf("QZ~RQ-M5T\r"), "\r\nOK\r\n"},
        {bytesOf("QZ~FLASH\r"), "CT\r\n"},
        {eraseFrame(kNormalEraseEntries), "BE\r\n"},
        {pageFrame(0xC0400, page), "PG\r\n"},
        {endFrame(), "ED\r\n"},
    };
    for (const Step& step : steps) {
        Port port(link.string(), B57600);  // a fresh open for every exchange
        EXPECT_EQ(port.exchange(step.sent, step.answer.size()),
                  joined({step.sent, bytesOf(step.answer)}));
    }

    // The dump is current as soon as ED is answered.
    ByteVector expected(0x40000, 0xFF);
    std::fill(expected.begin() + 0x3F000, expected.end(), 0x00);  // 0xFF000.. not erased
    std::copy(page.begin(), page.end(), expected.begin() + 0x400);
    EXPECT_EQ(fileBytes(dump), expected);

    EXPECT_EQ(sim.terminate(), 0);
    EXPECT_EQ(fileBytes(dump), expected);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    EXPECT_EQ(fileLines(log),
              (std::vector<std::string>{"ID ok", "FLASH ok",
                                        "BE FE000-FEFFF,FC000-FDFFF,FA000-FBFFF,F8000-F9FFF,"
                                        "F0000-F7FFF,E0000-EFFFF,D0000-DFFFF,C0000-CFFFF ok",
                                        "PG C0400 ok", "ED ok"}));
}

TEST_F(DevsimProcessTest, ReadsTheSpeedThatTheOtherEndSet) {
    Simulator sim({"--rate", "38400"});
    ASSERT_FALSE(sim.slavePath().empty());
    Port port(sim.slavePath(), B57600);
    const ByteVector command = bytesOf("QZ~RQ-M5T\r");
    const ByteVector garbled = port.exchange(command, 0);
    ASSERT_EQ(garbled.size(), command.size());
    EXPECT_NE(garbled, command);

    // At the right speed the next command is answered, and nothing came for the first.
    setSpeed(port.fd(), B38400);
    EXPECT_EQ(port.exchange(command, 6), joined({command, bytesOf("\r\nOK\r\n")}));
    EXPECT_EQ(sim.terminate(), 0);
}

TEST_F(DevsimProcessTest, HangUpAfterPageClosesTheLine) {
    const fs::path dump = dir / "flash.bin", log = dir / "log.txt";
    Simulator sim({"--hangup-after", "1", "--dump", dump.string(), "--log", log.string()});
    ASSERT_FALSE(sim.slavePath().empty());
    Port port(sim.slavePath(), B57600);
    ASSERT_EQ(port.exchange(bytesOf("QZ~FLASH\r"), 4), bytesOf("QZ~FLASH\rCT\r\n"));

    const ByteVector frame = pageFrame(0xC0000, pagePattern(1));
    writeAll(port.fd(), frame);
    bool hungUp = false;
    const ByteVector received = readBytes(port.fd(), frame.size() + 4, &hungUp);
    EXPECT_TRUE(hungUp);
    EXPECT_EQ(received, frame) << "the echo, and no answer";

    EXPECT_EQ(sim.waitForExit(), 0);
    const ByteVector flash = fileBytes(dump);
    ASSERT_EQ(flash.size(), 0x40000u);
    EXPECT_EQ(ByteVector(flash.begin(), flash.begin() + 1024), pagePattern(1));
    EXPECT_EQ(fileLines(log), (std::vector<std::string>{"FLASH ok", "PG C0000 ok", "HANGUP"}));
}

TEST_F(DevsimProcessTest, BadOptionExitsWith64) {
    Simulator sim({"--rate", "1200"});
    EXPECT_TRUE(sim.slavePath().empty());
    EXPECT_EQ(sim.waitForExit(), 64);
}

}  // namespace
}  // namespace rqm5::devsim
