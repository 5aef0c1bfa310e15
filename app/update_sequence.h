#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "loader/rqm5_device.h"

namespace rqm5 {

// The texts that tell the user how a sequence ended.
inline constexpr std::string_view kCompletedText = "Completed.";
inline constexpr std::string_view kRegionErrorText = "Region error";
inline constexpr std::string_view kErrorText = "Error";
inline constexpr std::string_view kConnectFailedText = "Connect failed.";
inline constexpr std::string_view kEraseFailedText = "Erase failed.";
inline constexpr std::string_view kWriteFailedText = "Write failed.";
inline constexpr std::string_view kDisconnectFailedText = "Disconnect failed.";
inline constexpr std::string_view kLineSequenceCompletedText = "FLASH Memory writing completed.";

enum class SequenceStep { kNone, kIdentify, kConnect, kErase, kWrite, kDisconnect };

// The result code that counts as success for a step, in the given mode (0 and 1 line mode, 2 the
// flash loader): connecting succeeds with 3 in mode 2 and 0 in the line modes, erasing with 4 and
// ending with 2 in mode 2; every other step, and every line-mode step, with 0.
std::int16_t SuccessCode(SequenceStep step, std::int16_t mode);
// The failure text of a step.
std::string_view FailureText(SequenceStep step);

struct SequenceOutcome {
    bool success = false;
    // What the user is told: the success text, or the failed step's text.
    std::string message;
    // The step that failed; kNone on success.
    SequenceStep failedStep = SequenceStep::kNone;
    // The failed step's result code; 0 on success.
    std::int16_t code = 0;
};

// Identification before an update: 13 is a region error, any other non-zero value an error.
SequenceOutcome IdentifyForUpdate(Rqm5Device& device);
// Connect (mode 2), erase, program pages, end; the first failing step ends it and nothing more is
// sent. Success: "Completed.".
SequenceOutcome RunLoaderSequence(Rqm5Device& device);
// Identification, then the loader sequence when it succeeded: the whole Start button.
SequenceOutcome RunStartSequence(Rqm5Device& device);
// Connect in `mode` (0 or 1), "ERASE", write the rows, "END"; the first failing step ends it.
// Success: "FLASH Memory writing completed.". Any other mode fails at connecting, sending nothing.
SequenceOutcome RunLineSequence(Rqm5Device& device, std::int16_t mode);

}  // namespace rqm5
