#pragma once

// A serial port for unit tests that plays a scripted device on a fake clock.
//
// Clock: Now() starts at 0 and moves only inside WaitUntilWaiting() (or AdvanceClock()): a wait
// jumps to the arrival time of the next delivery that it needs, or to its deadline when nothing
// more is due before it, and then returns false. No test ever sleeps.
//
// Device: OnWrite() installs a handler that runs for every Write() and schedules what arrives in
// answer with Deliver(bytes, after): the echo and the reply, each after some fake milliseconds,
// possibly in chunks. EchoAndReply() builds such a handler from a reply function that sees whole
// messages (the two halves of a 1032-byte loader frame are joined), and StandardReply() is a
// well-behaved RQ-M5 that tests adapt:
//
//     ScriptedPort port;
//     port.OnWrite(EchoAndReply([](std::span<const std::uint8_t> message) {
//         if (LongFrameLetters(message) == "BE") return PlainReply("OK");
//         return StandardReply(message);
//     }));
//
// Records: every write (bytes, rate in force, port number, time), every open (port number and
// rate), closes, rates set and waits. Failures: ThrowOnOpen(), ThrowOnWrite(), ThrowOnRead() make
// the port throw PortError like a real one that fails.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/serial_port.h"

namespace rqm5::test {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

Bytes ToBytes(std::string_view text);
std::string ToText(std::span<const std::uint8_t> bytes);
Bytes Concat(std::initializer_list<std::span<const std::uint8_t>> parts);
// c1 c2 CR LF
Bytes PlainReply(std::string_view code);
// CR LF c1 c2 CR LF
Bytes FramedReply(std::string_view code);

class ScriptedPort : public SerialPort {
  public:
    using WriteHandler =
        std::function<void(std::span<const std::uint8_t> sent, ScriptedPort& port)>;
    using WaitHook = std::function<void(ScriptedPort& port)>;

    struct WriteRecord {
        Bytes bytes;
        int baudRate;
        int portNumber;
        Millis at;
    };
    struct OpenRecord {
        int portNumber;
        int baudRate;
    };

    // --- Script ---
    // Runs after every successful Write, with the bytes written.
    void OnWrite(WriteHandler handler) { onWrite_ = std::move(handler); }
    // Runs at the start of every WaitUntilWaiting, as the window's events would during a wait.
    void OnWait(WaitHook hook) { onWait_ = std::move(hook); }
    // Bytes that arrive `after` from now. Open() and Close() discard everything not yet read.
    void Deliver(std::span<const std::uint8_t> bytes, Millis after = 0ms);
    void Deliver(std::string_view text, Millis after = 0ms) { Deliver(ToBytes(text), after); }
    // Bytes that arrive in pieces of `chunkSize`, the first after `first`, then one every `gap`.
    void DeliverInChunks(std::span<const std::uint8_t> bytes, std::size_t chunkSize, Millis first,
                         Millis gap);
    void AdvanceClock(Millis by) { now_ += by; }

    // --- Failures: PortError from the next call of that kind on ---
    void ThrowOnOpen(bool on = true) { throwOnOpen_ = on; }
    // The write with this 0-based number throws (nothing is recorded for it); nullopt: none.
    void ThrowOnWrite(std::optional<std::size_t> writeNumber) { throwOnWrite_ = writeNumber; }
    // BytesWaiting, ReadAll and WaitUntilWaiting throw.
    void ThrowOnRead(bool on = true) { throwOnRead_ = on; }

    // --- Records ---
    const std::vector<WriteRecord>& Writes() const { return writes_; }
    // Every byte written, in order, across all writes.
    Bytes AllWritten() const;
    const std::vector<OpenRecord>& Opens() const { return opens_; }
    int CloseCount() const { return closeCount_; }
    const std::vector<int>& RatesSet() const { return ratesSet_; }
    int WaitCount() const { return waitCount_; }
    int PortNumber() const { return portNumber_; }
    // Bytes scheduled or arrived and not yet read.
    std::size_t PendingBytes() const;
    void ClearRecords();

    // --- SerialPort ---
    void SetPortNumber(int portNumber) override { portNumber_ = portNumber; }
    void SetBaudRate(int bitsPerSecond) override;
    int BaudRate() const override { return baudRate_; }
    bool IsOpen() const override { return open_; }
    void Open() override;
    void Close() override;
    void Write(std::span<const std::uint8_t> bytes) override;
    std::size_t BytesWaiting() override;
    Bytes ReadAll() override;
    Millis Now() const override { return now_; }
    bool WaitUntilWaiting(std::size_t count, Millis deadline) override;

  private:
    struct Arrival {
        Millis at;
        Bytes bytes;
    };
    void TakeArrivals();
    void DiscardAll();
    void CheckRead() const;

    WriteHandler onWrite_;
    WaitHook onWait_;
    std::vector<Arrival> scheduled_;  // ordered by arrival time, then by scheduling order
    Bytes received_;
    Millis now_{0};
    int portNumber_ = 1;
    int baudRate_ = 38400;
    bool open_ = false;
    bool throwOnOpen_ = false;
    bool throwOnRead_ = false;
    std::optional<std::size_t> throwOnWrite_;
    std::size_t writeAttempts_ = 0;
    std::vector<WriteRecord> writes_;
    std::vector<OpenRecord> opens_;
    std::vector<int> ratesSet_;
    int closeCount_ = 0;
    int waitCount_ = 0;
};

// --- Device models ---

// Reply to one whole message; empty for none.
using ReplyFunction = std::function<Bytes(std::span<const std::uint8_t> message)>;

// A device that echoes every write after `echoDelay` and answers each message `replyDelay` after
// its last write. A 512-byte write that starts FF FE is the first half of a loader frame: the reply
// function sees it joined with the next write. Every other write is one message.
ScriptedPort::WriteHandler EchoAndReply(ReplyFunction reply, Millis echoDelay = 0ms,
                                        Millis replyDelay = 0ms);
// The messages written so far, split as EchoAndReply sees them (loader frame halves joined).
std::vector<Bytes> SentMessages(const ScriptedPort& port);

// Echoes everything, never answers.
ScriptedPort::WriteHandler EchoEverything();

// "BE", "PG" or "ED" when `message` is a 1032-byte loader frame (FF FE and two letters), else "".
std::string LongFrameLetters(std::span<const std::uint8_t> message);
// The same for a 25-byte short frame.
std::string ShortFrameLetters(std::span<const std::uint8_t> message);
// The 20-byte line record inside a line-mode message (20 bytes, or "CL~" and 20), else empty.
std::span<const std::uint8_t> LineRecordOf(std::span<const std::uint8_t> message);
// A line-mode answer: the plain reply and 16 filler bytes.
Bytes LineReply(std::string_view code);

// A well-behaved device: identification framed "OK", "QZ~FLASH" "CT", the line modes "OK" plus 16
// bytes, port control framed "OK", loader frames answered with their own letters, line data
// records copied back, and the erase, end and OK records answered "OK" plus 16 bytes.
Bytes StandardReply(std::span<const std::uint8_t> message);

}  // namespace rqm5::test
