// Byte builders for the simulator's tests, written from the line's description so
// they do not lean on the simulator's own code.
#pragma once

#include <cstdint>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

namespace rqm5::devsim::testing {

using ByteVector = std::vector<std::uint8_t>;

inline constexpr std::size_t kFrameLength = 1032;

inline ByteVector bytesOf(std::string_view text) {
    return ByteVector(text.begin(), text.end());
}

inline ByteVector joined(std::initializer_list<ByteVector> parts) {
    ByteVector all;
    for (const ByteVector& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

inline std::uint8_t frameChecksum(const ByteVector& frame) {
    return static_cast<std::uint8_t>(
        std::accumulate(frame.begin() + 2, frame.begin() + kFrameLength - 1, 0u) & 0xFF);
}

// FF FE, two letters, the payload head, 0xFF up to index 1030, then the checksum.
inline ByteVector loaderFrame(char first, char second, const ByteVector& payloadHead) {
    ByteVector frame(kFrameLength, 0xFF);
    frame[1] = 0xFE;
    frame[2] = static_cast<std::uint8_t>(first);
    frame[3] = static_cast<std::uint8_t>(second);
    std::copy(payloadHead.begin(), payloadHead.end(), frame.begin() + 4);
    frame[kFrameLength - 1] = frameChecksum(frame);
    return frame;
}

inline ByteVector eraseFrame(const std::vector<std::uint32_t>& entries) {
    ByteVector payload;
    for (std::uint32_t entry : entries) {
        for (int shift : {24, 16, 8, 0}) {
            payload.push_back(static_cast<std::uint8_t>(entry >> shift));
        }
    }
    return loaderFrame('B', 'E', payload);
}

// The eight blocks of a normal update, and the ninth that the service code adds.
inline const std::vector<std::uint32_t> kNormalEraseEntries{
    0x000FEFFE, 0x000FDFFE, 0x000FBFFE, 0x000F9FFE, 0x000F7FFE, 0x000EFFFE, 0x000DFFFE, 0x000CFFFE};
inline const std::vector<std::uint32_t> kServiceEraseEntries{0x000FEFFE, 0x000FDFFE, 0x000FBFFE,
                                                             0x000F9FFE, 0x000F7FFE, 0x000EFFFE,
                                                             0x000DFFFE, 0x000CFFFE, 0x000FFFFE};

inline ByteVector pageFrame(std::uint32_t address, const ByteVector& data) {
    ByteVector payload{static_cast<std::uint8_t>(address >> 16),
                       static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    payload.insert(payload.end(), data.begin(), data.end());
    return loaderFrame('P', 'G', payload);
}

inline ByteVector endFrame() {
    return loaderFrame('E', 'D', {});
}

// 1024 bytes that differ from page to page and hold no 0xFF.
inline ByteVector pagePattern(std::uint8_t seed) {
    ByteVector data(1024);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>((i * 7 + seed) % 0xFF);
    }
    return data;
}

}  // namespace rqm5::devsim::testing
