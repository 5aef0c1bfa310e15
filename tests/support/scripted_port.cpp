#include "tests/support/scripted_port.h"

#include <algorithm>
#include <memory>

namespace rqm5::test {

Bytes ToBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string ToText(std::span<const std::uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

Bytes Concat(std::initializer_list<std::span<const std::uint8_t>> parts) {
    Bytes all;
    for (auto part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes PlainReply(std::string_view code) {
    return ToBytes(std::string(code) + "\r\n");
}

Bytes FramedReply(std::string_view code) {
    return ToBytes("\r\n" + std::string(code) + "\r\n");
}

// --- ScriptedPort ---

void ScriptedPort::Deliver(std::span<const std::uint8_t> bytes, Millis after) {
    Arrival arrival{now_ + after, Bytes(bytes.begin(), bytes.end())};
    auto position = std::upper_bound(scheduled_.begin(), scheduled_.end(), arrival.at,
                                     [](Millis at, const Arrival& a) { return at < a.at; });
    scheduled_.insert(position, std::move(arrival));
}

void ScriptedPort::DeliverInChunks(std::span<const std::uint8_t> bytes, std::size_t chunkSize,
                                   Millis first, Millis gap) {
    chunkSize = std::max<std::size_t>(chunkSize, 1);
    Millis after = first;
    for (std::size_t start = 0; start < bytes.size(); start += chunkSize, after += gap) {
        Deliver(bytes.subspan(start, std::min(chunkSize, bytes.size() - start)), after);
    }
}

Bytes ScriptedPort::AllWritten() const {
    Bytes all;
    for (const auto& write : writes_) all.insert(all.end(), write.bytes.begin(), write.bytes.end());
    return all;
}

std::size_t ScriptedPort::PendingBytes() const {
    std::size_t total = received_.size();
    for (const auto& arrival : scheduled_) total += arrival.bytes.size();
    return total;
}

void ScriptedPort::ClearRecords() {
    writes_.clear();
    opens_.clear();
    ratesSet_.clear();
    closeCount_ = 0;
    waitCount_ = 0;
}

void ScriptedPort::SetBaudRate(int bitsPerSecond) {
    baudRate_ = bitsPerSecond;
    ratesSet_.push_back(bitsPerSecond);
}

void ScriptedPort::Open() {
    if (open_) throw PortError("port already open");
    if (throwOnOpen_) throw PortError("cannot open the port");
    DiscardAll();
    open_ = true;
    opens_.push_back({portNumber_, baudRate_});
}

void ScriptedPort::Close() {
    if (!open_) return;
    open_ = false;
    ++closeCount_;
    DiscardAll();
}

void ScriptedPort::Write(std::span<const std::uint8_t> bytes) {
    if (!open_) throw PortError("write on a closed port");
    const std::size_t number = writeAttempts_++;
    if (throwOnWrite_ && *throwOnWrite_ == number) throw PortError("write failed");
    writes_.push_back({Bytes(bytes.begin(), bytes.end()), baudRate_, portNumber_, now_});
    // The handler may schedule more writes' worth of bytes; give it its own copy to look at.
    const Bytes sent = writes_.back().bytes;
    if (onWrite_) onWrite_(sent, *this);
}

std::size_t ScriptedPort::BytesWaiting() {
    CheckRead();
    TakeArrivals();
    return received_.size();
}

Bytes ScriptedPort::ReadAll() {
    CheckRead();
    TakeArrivals();
    Bytes all;
    all.swap(received_);
    return all;
}

bool ScriptedPort::WaitUntilWaiting(std::size_t count, Millis deadline) {
    ++waitCount_;
    if (onWait_) onWait_(*this);
    CheckRead();
    TakeArrivals();
    while (received_.size() < count) {
        if (scheduled_.empty() || scheduled_.front().at > deadline) {
            now_ = std::max(now_, deadline);
            return false;
        }
        now_ = std::max(now_, scheduled_.front().at);
        TakeArrivals();
    }
    return true;
}

void ScriptedPort::TakeArrivals() {
    if (!open_) return;
    auto due = std::find_if(scheduled_.begin(), scheduled_.end(),
                            [this](const Arrival& a) { return a.at > now_; });
    for (auto it = scheduled_.begin(); it != due; ++it) {
        received_.insert(received_.end(), it->bytes.begin(), it->bytes.end());
    }
    scheduled_.erase(scheduled_.begin(), due);
}

void ScriptedPort::DiscardAll() {
    scheduled_.clear();
    received_.clear();
}

void ScriptedPort::CheckRead() const {
    if (!open_) throw PortError("read on a closed port");
    if (throwOnRead_) throw PortError("read failed");
}

// --- Device models ---

namespace {
bool IsFirstHalf(std::span<const std::uint8_t> sent) {
    return sent.size() == 512 && sent[0] == 0xFF && sent[1] == 0xFE;
}
}  // namespace

ScriptedPort::WriteHandler EchoAndReply(ReplyFunction reply, Millis echoDelay, Millis replyDelay) {
    // The first half of a loader frame waits here for the second.
    auto firstHalf = std::make_shared<Bytes>();
    return [reply = std::move(reply), echoDelay, replyDelay, firstHalf](
               std::span<const std::uint8_t> sent, ScriptedPort& port) {
        port.Deliver(sent, echoDelay);
        if (firstHalf->empty() && IsFirstHalf(sent)) {
            *firstHalf = Bytes(sent.begin(), sent.end());
            return;
        }
        Bytes message = Concat({*firstHalf, sent});
        firstHalf->clear();
        const Bytes answer = reply ? reply(message) : Bytes{};
        if (!answer.empty()) port.Deliver(answer, replyDelay);
    };
}

std::vector<Bytes> SentMessages(const ScriptedPort& port) {
    std::vector<Bytes> messages;
    bool joinNext = false;
    for (const auto& write : port.Writes()) {
        if (joinNext) {
            messages.back().insert(messages.back().end(), write.bytes.begin(), write.bytes.end());
            joinNext = false;
            continue;
        }
        messages.push_back(write.bytes);
        joinNext = IsFirstHalf(write.bytes);
    }
    return messages;
}

ScriptedPort::WriteHandler EchoEverything() {
    return EchoAndReply(nullptr);
}

namespace {
std::string FrameLetters(std::span<const std::uint8_t> message, std::size_t size) {
    if (message.size() != size || message[0] != 0xFF || message[1] != 0xFE) return "";
    return std::string{static_cast<char>(message[2]), static_cast<char>(message[3])};
}
}  // namespace

std::string LongFrameLetters(std::span<const std::uint8_t> message) {
    return FrameLetters(message, 1032);
}

std::string ShortFrameLetters(std::span<const std::uint8_t> message) {
    return FrameLetters(message, 25);
}

std::span<const std::uint8_t> LineRecordOf(std::span<const std::uint8_t> message) {
    if (message.size() == 20) return message;
    if (message.size() == 23 && message[0] == 'C' && message[1] == 'L' && message[2] == '~') {
        return message.subspan(3);
    }
    return {};
}

Bytes LineReply(std::string_view code) {
    return Concat({PlainReply(code), Bytes(16, 0)});
}

Bytes StandardReply(std::span<const std::uint8_t> message) {
    const std::string text = ToText(message);
    if (text == "QZ~RQ-M5T\r") return FramedReply("OK");
    if (text == "QZ~FLASH\r") return PlainReply("CT");
    if (text == "QZ~E\r" || text == "FL\r") return LineReply("OK");
    if (text.starts_with("QZ~P") && text.ends_with("\r")) return FramedReply("OK");
    if (std::string letters = LongFrameLetters(message); !letters.empty()) {
        return PlainReply(letters);
    }
    if (std::string letters = ShortFrameLetters(message); !letters.empty()) {
        return PlainReply(letters);
    }
    if (auto record = LineRecordOf(message); !record.empty()) {
        const std::string head = ToText(record.first(4));
        const bool command = head == "OK\r\n" || head == std::string("\x01\x01\r\n", 4) ||
                             head == std::string("\x00\x00\r\n", 4);
        if (command) return LineReply("OK");
        if (head == "NG\r\n") return LineReply("NG");
        return Bytes(record.begin(), record.end());
    }
    return {};
}

}  // namespace rqm5::test
