#pragma once

#include <gtest/gtest.h>

#include "loader/loader_frames.h"
#include "tests/support/scripted_port.h"

namespace rqm5::test {

// A loader exchange on a scripted port, with an empty image and 57600 selected.
class LoaderTest : public ::testing::Test {
  protected:
    // Marks `row` by storing `value` (below 0xFF) in its column 0.
    void Mark(std::uint32_t row, std::uint8_t value = 0x00) {
        ASSERT_TRUE(image.Store(row, 0, value));
    }
    // The loader frames sent so far, with the given two letters.
    std::vector<Bytes> FramesSent(std::string_view letters) const {
        std::vector<Bytes> frames;
        for (Bytes& message : SentMessages(port)) {
            if (LongFrameLetters(message) == letters) frames.push_back(std::move(message));
        }
        return frames;
    }
    // The row address carried by a page frame.
    static std::uint32_t PageRow(const Bytes& frame) {
        return ((std::uint32_t{frame[4]} << 16) | (std::uint32_t{frame[5]} << 8) | frame[6]) / 16;
    }

    ScriptedPort port;
    FixedSettings settings;
    MemoryImage image;
    LoaderContext context{port, settings, image};
};

}  // namespace rqm5::test
