#include "app/update_sequence.h"

#include <functional>
#include <initializer_list>

#include "loader/loader_frames.h"

namespace rqm5 {
namespace {

struct Step {
    SequenceStep step;
    std::function<std::int16_t()> run;
};

SequenceOutcome Succeeded(std::string_view text) {
    return {.success = true,
            .message = std::string(text),
            .failedStep = SequenceStep::kNone,
            .code = 0};
}

SequenceOutcome Failed(SequenceStep step, std::string_view text, std::int16_t code) {
    return {.success = false, .message = std::string(text), .failedStep = step, .code = code};
}

// Runs the steps in order until one gives anything but its success code.
SequenceOutcome RunSteps(std::int16_t mode, std::initializer_list<Step> steps,
                         std::string_view successText) {
    for (const Step& step : steps) {
        const std::int16_t code = step.run();
        if (code != SuccessCode(step.step, mode)) {
            return Failed(step.step, FailureText(step.step), code);
        }
    }
    return Succeeded(successText);
}

}  // namespace

std::int16_t SuccessCode(SequenceStep step, std::int16_t mode) {
    if (mode != kFrameMode) return 0;
    switch (step) {
        case SequenceStep::kConnect:
            return 3;
        case SequenceStep::kErase:
            return 4;
        case SequenceStep::kDisconnect:
            return 2;
        default:
            return 0;
    }
}

std::string_view FailureText(SequenceStep step) {
    switch (step) {
        case SequenceStep::kConnect:
            return kConnectFailedText;
        case SequenceStep::kErase:
            return kEraseFailedText;
        case SequenceStep::kWrite:
            return kWriteFailedText;
        case SequenceStep::kDisconnect:
            return kDisconnectFailedText;
        case SequenceStep::kIdentify:
        case SequenceStep::kNone:
            break;
    }
    return kErrorText;
}

SequenceOutcome IdentifyForUpdate(Rqm5Device& device) {
    constexpr std::int16_t kRegionError = 13;
    const std::int16_t code = device.IdentifyDevice();
    if (code == 0) return Succeeded("");
    return Failed(SequenceStep::kIdentify, code == kRegionError ? kRegionErrorText : kErrorText,
                  code);
}

SequenceOutcome RunLoaderSequence(Rqm5Device& device) {
    return RunSteps(kFrameMode,
                    {{SequenceStep::kConnect, [&] { return device.EnterMode(kFrameMode); }},
                     {SequenceStep::kErase, [&] { return device.EraseBlocks(); }},
                     {SequenceStep::kWrite, [&] { return device.WritePages(); }},
                     {SequenceStep::kDisconnect, [&] { return device.EndLoader(); }}},
                    kCompletedText);
}

SequenceOutcome RunStartSequence(Rqm5Device& device) {
    SequenceOutcome identified = IdentifyForUpdate(device);
    if (!identified.success) return identified;
    return RunLoaderSequence(device);
}

SequenceOutcome RunLineSequence(Rqm5Device& device, std::int16_t mode) {
    constexpr std::int16_t kNoValidReply = 8;
    if (mode != kLineMode && mode != kCommandLineMode) {
        return Failed(SequenceStep::kConnect, kConnectFailedText, kNoValidReply);
    }
    return RunSteps(
        mode,
        {{SequenceStep::kConnect, [&] { return device.EnterMode(mode); }},
         {SequenceStep::kErase, [&] { return device.LineCommand("ERASE", mode, 0); }},
         {SequenceStep::kWrite, [&] { return device.WriteLines(mode); }},
         {SequenceStep::kDisconnect, [&] { return device.LineCommand("END", mode, 0); }}},
        kLineSequenceCompletedText);
}

}  // namespace rqm5
