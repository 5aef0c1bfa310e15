#include "pty_front_end.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>

#include "flash_file.h"
#include "line_timing.h"

namespace rqm5::devsim {
namespace {

constexpr auto kHangUpDrainLimit = std::chrono::seconds(2);
constexpr auto kHangUpSettleTime = std::chrono::milliseconds(10);
constexpr int kHangUpDrainTickMs = 2;

int signalPipeWrite = -1;

extern "C" void onStopSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(signalPipeWrite, &byte, 1);
    errno = savedErrno;
}

speed_t speedConstant(unsigned rate) {
    switch (rate) {
        case 9600:
            return B9600;
        case 38400:
            return B38400;
        default:
            return B57600;
    }
}

// The speed the other end set on the terminal, 0 when it is none of the known ones.
unsigned rateOf(speed_t speed) {
    switch (speed) {
        case B1200:
            return 1200;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        default:
            return 0;
    }
}

void setCloseOnExec(int fd) {
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

class FrontEnd {
  public:
    explicit FrontEnd(const SimulatorOptions& options, Bytes flash)
        : options_(options),
          model_(options.device, std::move(flash)),
          timing_(options.throttle, options.uartFifo) {}

    ~FrontEnd() { cleanUp(); }

    int run();

  private:
    bool setUp();
    void cleanUp();
    void onBytesRead(const std::uint8_t* bytes, std::size_t count);
    bool flushWrites();
    std::optional<timespec> pollTimeout(LineTiming::TimePoint now) const;
    void log(const std::string& line);
    void writeDump();
    unsigned lineRate() const;
    int hangUp();

    const SimulatorOptions& options_;
    DeviceModel model_;
    LineTiming timing_;
    int master_ = -1;
    int slave_ = -1;
    std::array<int, 2> signalPipe_{-1, -1};
    bool linkMade_ = false;
    std::ofstream log_;
    std::vector<std::uint8_t> outgoing_;
    std::size_t outgoingSent_ = 0;
};

bool FrontEnd::setUp() {
    if (!options_.logPath.empty()) {
        log_.open(options_.logPath, std::ios::out | std::ios::trunc);
        if (!log_) {
            std::cerr << "rqm5-devsim: cannot write " << options_.logPath << "\n";
            return false;
        }
    }
    char slavePath[PATH_MAX] = {};
    if (::openpty(&master_, &slave_, slavePath, nullptr, nullptr) != 0) {
        std::cerr << "rqm5-devsim: openpty: " << std::strerror(errno) << "\n";
        return false;
    }
    setCloseOnExec(master_);
    setCloseOnExec(slave_);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    termios settings{};
    ::tcgetattr(slave_, &settings);
    ::cfmakeraw(&settings);
    ::cfsetispeed(&settings, speedConstant(options_.device.rate));
    ::cfsetospeed(&settings, speedConstant(options_.device.rate));
    if (::tcsetattr(slave_, TCSANOW, &settings) != 0) {
        std::cerr << "rqm5-devsim: tcsetattr: " << std::strerror(errno) << "\n";
        return false;
    }

    if (::pipe(signalPipe_.data()) != 0) {
        std::cerr << "rqm5-devsim: pipe: " << std::strerror(errno) << "\n";
        return false;
    }
    for (int fd : signalPipe_) {
        setCloseOnExec(fd);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    signalPipeWrite = signalPipe_[1];
    struct sigaction stop {};
    stop.sa_handler = onStopSignal;
    ::sigemptyset(&stop.sa_mask);
    ::sigaction(SIGTERM, &stop, nullptr);
    ::sigaction(SIGINT, &stop, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    if (!options_.linkPath.empty()) {
        struct stat existing {};
        if (::lstat(options_.linkPath.c_str(), &existing) == 0) {
            if (!S_ISLNK(existing.st_mode)) {
                std::cerr << "rqm5-devsim: " << options_.linkPath
                          << " exists and is not a symbolic link\n";
                return false;
            }
            ::unlink(options_.linkPath.c_str());
        }
        if (::symlink(slavePath, options_.linkPath.c_str()) != 0) {
            std::cerr << "rqm5-devsim: cannot link " << options_.linkPath << ": "
                      << std::strerror(errno) << "\n";
            return false;
        }
        linkMade_ = true;
    }
    std::cout << slavePath << std::endl;
    return true;
}

void FrontEnd::cleanUp() {
    if (linkMade_) {
        ::unlink(options_.linkPath.c_str());
        linkMade_ = false;
    }
    for (int* fd : {&master_, &slave_, &signalPipe_[0], &signalPipe_[1]}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

void FrontEnd::log(const std::string& line) {
    if (log_.is_open() && !line.empty()) {
        log_ << line << std::endl;
    }
}

void FrontEnd::writeDump() {
    if (options_.dumpPath.empty()) {
        return;
    }
    std::string error;
    if (!writeFileAtomically(options_.dumpPath, model_.flash(), error)) {
        std::cerr << "rqm5-devsim: " << error << "\n";
    }
}

unsigned FrontEnd::lineRate() const {
    termios settings{};
    if (::tcgetattr(slave_, &settings) != 0) {
        return 0;
    }
    return rateOf(::cfgetospeed(&settings));
}

void FrontEnd::onBytesRead(const std::uint8_t* bytes, std::size_t count) {
    const LineTiming::TimePoint readTime = LineTiming::Clock::now();
    // The other end sets its speed before it sends, so one look per read suffices.
    const unsigned rate = lineRate();
    timing_.setRate(rate);
    for (std::size_t i = 0; i < count; ++i) {
        const LineTiming::TimePoint arrival = timing_.arrive(readTime);
        Reaction reaction = model_.receive(bytes[i], rate);
        log(reaction.logLine);
        if (reaction.echo) {
            timing_.send(*reaction.echo, arrival);
        }
        const LineTiming::TimePoint answerTime = arrival + reaction.processingTime;
        for (std::uint8_t byte : reaction.answer) {
            timing_.send(byte, answerTime);
        }
        if (reaction.hangUp) {
            timing_.hangUp(answerTime);
        }
        if (reaction.flashSettled) {
            writeDump();
        }
    }
}

// Writes what the line has delivered; false when the terminal is gone.
bool FrontEnd::flushWrites() {
    while (outgoingSent_ < outgoing_.size()) {
        const ssize_t written =
            ::write(master_, outgoing_.data() + outgoingSent_, outgoing_.size() - outgoingSent_);
        if (written > 0) {
            outgoingSent_ += static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        } else {
            return false;
        }
    }
    outgoing_.clear();
    outgoingSent_ = 0;
    return true;
}

std::optional<timespec> FrontEnd::pollTimeout(LineTiming::TimePoint now) const {
    const auto due = timing_.nextDue();
    if (!due) {
        return std::nullopt;
    }
    // Nanosecond resolution: a byte at 57600 bit/s takes 174 us, so a wake-up rounded to whole
    // milliseconds would stretch the line's time.
    const auto wait = std::max(*due - now, LineTiming::TimePoint::duration::zero());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(wait - seconds);
    return timespec{static_cast<time_t>(seconds.count()), static_cast<long>(nanoseconds.count())};
}

// Closing the master discards what the other end has not read yet, which a pulled
// cable would not take back: let the other end read what already crossed the line
// first, for a short while at most. The kernel hands written bytes to the reader's
// queue a moment later, hence the settling time before the queue is looked at.
int FrontEnd::hangUp() {
    const auto start = LineTiming::Clock::now();
    while (LineTiming::Clock::now() < start + kHangUpDrainLimit) {
        int unread = 0;
        const bool settled = LineTiming::Clock::now() >= start + kHangUpSettleTime;
        if (!flushWrites() || (settled && outgoing_.empty() &&
                               (::ioctl(slave_, TIOCINQ, &unread) != 0 || unread == 0))) {
            break;
        }
        pollfd stop{signalPipe_[0], POLLIN, 0};
        if (::poll(&stop, 1, kHangUpDrainTickMs) > 0) {
            break;
        }
    }
    log("HANGUP");
    ::close(master_);
    master_ = -1;
    writeDump();
    return 0;
}

int FrontEnd::run() {
    if (!setUp()) {
        return kExitOsError;
    }
    std::array<std::uint8_t, 4096> buffer;
    while (true) {
        const auto now = LineTiming::Clock::now();
        const bool hangUpDue = timing_.takeDue(now, outgoing_);
        if (!flushWrites()) {
            std::cerr << "rqm5-devsim: the terminal failed: " << std::strerror(errno) << "\n";
            writeDump();
            return kExitOsError;
        }
        if (hangUpDue) {
            return hangUp();
        }
        std::array<pollfd, 2> fds{{
            {master_, static_cast<short>(POLLIN | (outgoing_.empty() ? 0 : POLLOUT)), 0},
            {signalPipe_[0], POLLIN, 0},
        }};
        const std::optional<timespec> timeout = pollTimeout(now);
        const int ready = ::ppoll(fds.data(), fds.size(), timeout ? &*timeout : nullptr, nullptr);
        if (ready < 0 && errno != EINTR) {
            std::cerr << "rqm5-devsim: poll: " << std::strerror(errno) << "\n";
            writeDump();
            return kExitOsError;
        }
        if (ready <= 0) {
            continue;
        }
        if (fds[1].revents != 0) {
            writeDump();
            return 0;
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t count = ::read(master_, buffer.data(), buffer.size());
            if (count > 0) {
                onBytesRead(buffer.data(), static_cast<std::size_t>(count));
            } else if (count < 0 && errno != EAGAIN && errno != EINTR) {
                std::cerr << "rqm5-devsim: read: " << std::strerror(errno) << "\n";
                writeDump();
                return kExitOsError;
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // Cannot happen while our own slave descriptor is open; never spin on it.
            std::cerr << "rqm5-devsim: the terminal hung up\n";
            writeDump();
            return kExitOsError;
        }
    }
}

}  // namespace

int runSimulator(const SimulatorOptions& options) {
    Bytes flash(kFlashSize, options.flashFill);
    if (!options.flashInitPath.empty()) {
        std::string error;
        if (!readFlashFile(options.flashInitPath, flash, error)) {
            std::cerr << "rqm5-devsim: " << error << "\n";
            return kExitUsage;
        }
    }
    FrontEnd frontEnd(options, std::move(flash));
    return frontEnd.run();
}

}  // namespace rqm5::devsim
