// rqm5-flash: the updater's Start button without a window, for production lines and scripts.
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <cstdio>
#include <string>

#include "app/update_sequence.h"
#include "image/image_file.h"
#include "image/srecord_loader.h"
#include "loader/rqm5_device.h"
#include "platform/qt_serial_port.h"
#include "tools/flash/observed_port.h"

namespace {

using namespace rqm5;

// Exit statuses, one for each step that can fail.
enum ExitStatus {
    kExitCompleted = 0,
    kExitNoDevice = 2,     // "Error": no answer, a wrong answer, or the port failed
    kExitRegionError = 3,  // "Region error"
    kExitConnect = 4,      // "Connect failed."
    kExitErase = 5,        // "Erase failed."
    kExitWrite = 6,        // "Write failed."
    kExitDisconnect = 7,   // "Disconnect failed."
    kExitImage = 8,        // the image file did not load (or the built-in image is damaged)
    kExitUsage = 64,
};

constexpr const char* kDescription =
    "Rewrites the flash of an RQ-M5 device with the built-in firmware (or an image file), as the\n"
    "updater's Start button does: identify, enter flash mode, erase, program every 1 KB page that\n"
    "holds data, end.\n"
    "\n"
    "Exit status: 0 completed; 2 no device or no valid answer (\"Error\"); 3 \"Region error\";\n"
    "4 \"Connect failed.\"; 5 \"Erase failed.\"; 6 \"Write failed.\"; 7 \"Disconnect failed.\";\n"
    "8 the image file did not load; 64 usage error.";

int ExitStatusFor(const SequenceOutcome& outcome) {
    switch (outcome.failedStep) {
        case SequenceStep::kNone:
            return kExitCompleted;
        case SequenceStep::kIdentify:
            return outcome.code == 13 ? kExitRegionError : kExitNoDevice;
        case SequenceStep::kConnect:
            return kExitConnect;
        case SequenceStep::kErase:
            return kExitErase;
        case SequenceStep::kWrite:
            return kExitWrite;
        case SequenceStep::kDisconnect:
            return kExitDisconnect;
    }
    return kExitNoDevice;
}

// Progress of the page programming: on a terminal one line that keeps being rewritten, elsewhere
// one plain line per page with data.
class ProgressPrinter {
  public:
    ProgressPrinter(const MemoryImage& image, const ObservedPort& port, bool serviceCode)
        : image_(image), port_(port), interactive_(isatty(STDOUT_FILENO)) {
        const std::uint32_t lastPage = serviceCode ? 0xFFC0 : 0xFEC0;
        for (std::uint32_t row = kFirstRow; row <= lastPage; row += kRowsPerPage) {
            dataPages_ += image.PageHasData(row);
        }
    }

    void PageStarted(std::uint32_t row) {
        if (!image_.PageHasData(row)) return;
        if (pagesStarted_ == 0) {
            clock_.start();
            bytesAtStart_ = port_.bytesSent();
        }
        ++pagesStarted_;
        Print(row, pagesStarted_ - 1);
    }

    void Finish() {
        if (interactive_ && pagesStarted_ > 0) std::fputc('\n', stdout);
    }

  private:
    void Print(std::uint32_t row, int pagesDone) {
        const double seconds = clock_.isValid() ? clock_.elapsed() / 1000.0 : 0.0;
        const double rate = seconds > 0 ? (port_.bytesSent() - bytesAtStart_) / seconds : 0.0;
        const int percent = dataPages_ ? 100 * pagesDone / dataPages_ : 100;
        std::string left = "--:--";
        if (pagesDone > 0) {
            const int secondsLeft =
                static_cast<int>(seconds / pagesDone * (dataPages_ - pagesDone) + 0.5);
            char text[16];
            std::snprintf(text, sizeof text, "%d:%02d", secondsLeft / 60, secondsLeft % 60);
            left = text;
        }
        std::printf("%s%05X  %3d%%  %7.0f B/s  %s left%s", interactive_ ? "\r" : "",
                    static_cast<unsigned>(row * kColumns), percent, rate, left.c_str(),
                    interactive_ ? "  " : "\n");
        std::fflush(stdout);
    }

    const MemoryImage& image_;
    const ObservedPort& port_;
    bool interactive_;
    int dataPages_ = 0;
    int pagesStarted_ = 0;
    std::size_t bytesAtStart_ = 0;
    QElapsedTimer clock_;
};

int Usage(const QString& message) {
    std::fprintf(stderr, "rqm5-flash: %s\nTry 'rqm5-flash --help'.\n", qPrintable(message));
    return kExitUsage;
}

}  // namespace

int main(int argc, char* argv[]) {
    // The flasher shares no event loop with GLib code; Qt's own dispatcher wakes on every arriving
    // byte with fewer system calls, which is most of the flasher's CPU time on a slow line.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("rqm5-flash");

    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    const QCommandLineOption portOption(
        "port",
        "COMn (1..16, mapped like the window: RQM5_COMn or /dev/ttyS(n-1)) or a device path.",
        "COMn|DEVICE", "COM1");
    const QCommandLineOption rateOption("rate", "Line speed: 9600, 38400 or 57600.", "BPS",
                                        "57600");
    const QCommandLineOption serviceOption(
        "service-code", "Also erase and program the top 4 KB block (0xFF000-0xFFFFF).");
    const QCommandLineOption quietOption("quiet", "Print only the outcome.");
    const QCommandLineOption traceOption(
        "trace", "Print every byte sent and received, with time stamps, to standard error.");
    const QCommandLineOption statsOption(
        "stats",
        "At the end, print the bytes sent and received and the time taken to standard error.");
    const QCommandLineOption imageOption(
        "image",
        "Program this .mot (S-record) or .hex (Intel HEX) file, not the built-in firmware.",
        "FILE");
    parser.addOptions({portOption, rateOption, serviceOption, quietOption, traceOption, statsOption,
                       imageOption});
    const QCommandLineOption helpOption = parser.addHelpOption();

    if (!parser.parse(QCoreApplication::arguments())) return Usage(parser.errorText());
    if (parser.isSet(helpOption)) {
        std::printf("%s", qPrintable(parser.helpText()));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return Usage("unexpected argument '" + parser.positionalArguments().first() + "'");
    }

    FixedSettings settings;
    QtSerialPort serialPort;
    const QString port = parser.value(portOption);
    const auto comName = QRegularExpression("^COM([0-9]+)$").match(port);
    if (comName.hasMatch()) {
        settings.portNumber = comName.captured(1).toInt();
        if (settings.portNumber < 1 || settings.portNumber > 16) {
            return Usage("--port takes COM1 to COM16 or a device path, not '" + port + "'");
        }
    } else if (port.isEmpty()) {
        return Usage("--port needs a value");
    } else {
        serialPort.SetDeviceName(port);
    }
    const QString rate = parser.value(rateOption);
    if (rate == "9600") {
        settings.rateOption = 0;
    } else if (rate == "38400") {
        settings.rateOption = 1;
    } else if (rate == "57600") {
        settings.rateOption = 2;
    } else {
        return Usage("--rate takes 9600, 38400 or 57600, not '" + rate + "'");
    }
    const bool serviceCode = parser.isSet(serviceOption);
    if (serviceCode) settings.pinText = "TORNADO";

    MemoryImage image;
    EmbeddedImage table;
    if (const std::int32_t badLine = LoadBuiltInFirmware(image, table); badLine != 0) {
        std::fprintf(stderr, "rqm5-flash: built-in firmware line %d lies outside the flash\n",
                     badLine);
        return kExitImage;
    }
    if (parser.isSet(imageOption)) {
        const ImageFileLoad load =
            LoadImageFile(QFile::encodeName(parser.value(imageOption)).toStdString(), image);
        if (!load.loaded) {
            std::fprintf(stderr, "rqm5-flash: %s: %s\n", qPrintable(parser.value(imageOption)),
                         load.messageText.c_str());
            return kExitImage;
        }
    }

    ObservedPort observed(serialPort, parser.isSet(traceOption));
    Rqm5Device device(observed, settings, image);
    ProgressPrinter progress(image, observed, serviceCode);
    if (!parser.isSet(quietOption)) {
        device.SetProgress({.pageStarted = [&](std::uint32_t row) { progress.PageStarted(row); },
                            .rowStarted = {}});
    }

    QElapsedTimer clock;
    clock.start();
    const SequenceOutcome outcome = RunStartSequence(device);
    progress.Finish();
    if (parser.isSet(statsOption)) {
        std::fprintf(stderr, "sent %zu bytes, received %zu bytes, %.3f s\n", observed.bytesSent(),
                     observed.bytesReceived(), clock.nsecsElapsed() / 1e9);
    }
    std::printf("%s\n", outcome.message.c_str());
    if (!outcome.success && !observed.lastError().empty()) {
        std::fprintf(stderr, "rqm5-flash: %s\n", observed.lastError().c_str());
    }
    return ExitStatusFor(outcome);
}
