#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "image/memory_image.h"
#include "link/exchange_settings.h"
#include "link/serial_port.h"
#include "loader/loader_frames.h"

namespace rqm5 {

// Where the caller shows progress: the first row of every page that WritePages reaches, and every
// row that WriteLines reaches. Called on the caller's thread, inside the procedure.
struct DeviceProgress {
    std::function<void(std::uint32_t row)> pageStarted;
    std::function<void(std::uint32_t row)> rowStarted;
};

// The device as the window and the command-line flasher see it: every procedure is one exchange
// that opens the port, talks, closes the port and returns its result code; none throws. One
// exchange at a time: a call made while another runs (from inside a wait) is refused with the
// procedure's failure code (8 for text commands, -1 for loader procedures) and touches nothing.
class Rqm5Device {
  public:
    Rqm5Device(SerialPort& port, const ExchangeSettings& settings, const MemoryImage& image);

    void SetProgress(DeviceProgress progress);

    std::int16_t IdentifyDevice();
    std::int16_t EnterMode(std::int16_t mode);
    std::int16_t PortControl();

    std::int16_t EraseBlocks();
    std::int16_t WritePages();
    std::int16_t EndLoader();

    std::int16_t LineCommand(std::string_view command, std::int16_t mode, std::int16_t block);
    std::int16_t WriteLines(std::int16_t mode);

    // An exchange is running.
    bool Busy() const { return context_.busy; }
    const std::vector<std::uint8_t>& rxBuffer() const { return context_.rxBuffer; }
    const LoaderFrames& frames() const { return context_.frames; }

  private:
    LoaderContext context_;
    DeviceProgress progress_;
};

}  // namespace rqm5
