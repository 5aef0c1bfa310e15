#include "loader/rqm5_device.h"

#include <utility>

#include "link/text_commands.h"
#include "loader/flash_commands.h"
#include "loader/line_mode.h"

namespace rqm5 {

Rqm5Device::Rqm5Device(SerialPort& port, const ExchangeSettings& settings, const MemoryImage& image)
    : context_(port, settings, image) {}

void Rqm5Device::SetProgress(DeviceProgress progress) {
    progress_ = std::move(progress);
}

std::int16_t Rqm5Device::IdentifyDevice() {
    return rqm5::IdentifyDevice(context_);
}

std::int16_t Rqm5Device::EnterMode(std::int16_t mode) {
    return rqm5::EnterMode(context_, mode);
}

std::int16_t Rqm5Device::PortControl() {
    return rqm5::PortControl(context_);
}

std::int16_t Rqm5Device::EraseBlocks() {
    return rqm5::EraseBlocks(context_);
}

std::int16_t Rqm5Device::WritePages() {
    // A copy: the callback may replace the progress while it runs.
    const auto pageStarted = progress_.pageStarted;
    return rqm5::WritePages(context_, pageStarted);
}

std::int16_t Rqm5Device::EndLoader() {
    return rqm5::EndLoader(context_);
}

std::int16_t Rqm5Device::LineCommand(std::string_view command, std::int16_t mode,
                                     std::int16_t block) {
    return rqm5::LineCommand(context_, command, mode, block);
}

std::int16_t Rqm5Device::WriteLines(std::int16_t mode) {
    const auto rowStarted = progress_.rowStarted;
    return rqm5::WriteLines(context_, mode, rowStarted);
}

}  // namespace rqm5
