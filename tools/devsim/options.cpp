#include "options.h"

#include <charconv>
#include <functional>
#include <limits>
#include <map>

namespace rqm5::devsim {
namespace {

constexpr std::uint32_t kMaxMilliseconds = 3'600'000;

// Whole text as a number; hexadecimal numbers may carry a 0x prefix.
std::optional<std::uint32_t> parseNumber(std::string_view text, int base) {
    if (base == 16 && (text.starts_with("0x") || text.starts_with("0X"))) {
        text.remove_prefix(2);
    }
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    auto [next, error] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || error != std::errc{} || next != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint32_t> parseHex(std::string_view text) {
    return parseNumber(text, 16);
}
std::optional<std::uint32_t> parseDecimal(std::string_view text) {
    return parseNumber(text, 10);
}

std::optional<std::uint32_t> parsePageAddress(std::string_view text) {
    auto address = parseHex(text);
    if (!address || *address < kFlashBase || *address > kLastPage || *address % kPageSize != 0) {
        return std::nullopt;
    }
    return address;
}

using Setter = std::function<std::string(SimulatorOptions&, std::string_view)>;

struct OptionRule {
    bool takesValue;
    Setter apply;  // returns an error text, empty when the value is good
};

std::string applyNoReply(SimulatorOptions& options, std::string_view spec) {
    IgnoredCommands& ignored = options.device.ignored;
    if (spec == "ID") {
        ignored.identification = true;
    } else if (spec == "FLASH") {
        ignored.flashMode = true;
    } else if (spec == "BE") {
        ignored.blockErase = true;
    } else if (spec == "ED") {
        ignored.end = true;
    } else if (spec == "PG") {
        ignored.allPages = true;
    } else if (spec.starts_with("PG@")) {
        auto address = parsePageAddress(spec.substr(3));
        if (!address) {
            return "--no-reply PG@ADDR needs a page address C0000..FFC00 in steps of 400";
        }
        ignored.pages.insert(*address);
    } else {
        return "--no-reply takes ID, FLASH, BE, ED, PG or PG@ADDR";
    }
    return {};
}

std::string applyNgPage(SimulatorOptions& options, std::string_view spec) {
    const auto colon = spec.find(':');
    const std::string_view error = "--ng-page takes ADDR:N, a page address and a count";
    if (colon == std::string_view::npos) {
        return std::string(error);
    }
    auto address = parsePageAddress(spec.substr(0, colon));
    auto count = parseDecimal(spec.substr(colon + 1));
    if (!address || !count ||
        *count > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) {
        return std::string(error);
    }
    options.device.ngPageCounts[*address] = static_cast<int>(*count);
    return {};
}

std::string applyPinInput(SimulatorOptions& options, std::string_view spec) {
    const auto equals = spec.find('=');
    const std::string_view error = "--pin-input takes PIN=0 or PIN=1 with PIN 0..15";
    if (equals == std::string_view::npos) {
        return std::string(error);
    }
    auto pin = parseDecimal(spec.substr(0, equals));
    const std::string_view level = spec.substr(equals + 1);
    if (!pin || *pin >= kPinCount || (level != "0" && level != "1")) {
        return std::string(error);
    }
    options.device.pinInputHigh[*pin] = level == "1";
    return {};
}

std::string applyMilliseconds(std::chrono::milliseconds& target, std::string_view name,
                              std::string_view text) {
    auto value = parseDecimal(text);
    if (!value || *value > kMaxMilliseconds) {
        return std::string(name) + " takes a number of milliseconds up to 3600000";
    }
    target = std::chrono::milliseconds(*value);
    return {};
}

std::string applyPath(std::string& target, std::string_view name, std::string_view text) {
    if (text.empty()) {
        return std::string(name) + " needs a file name";
    }
    target = text;
    return {};
}

const std::map<std::string_view, OptionRule>& optionRules() {
    static const std::map<std::string_view, OptionRule> rules{
        {"--help",
         {false,
          [](SimulatorOptions& o, std::string_view) {
              o.showHelp = true;
              return std::string();
          }}},
        {"--rate",
         {true,
          [](SimulatorOptions& o, std::string_view v) {
              auto rate = parseDecimal(v);
              if (!rate || (*rate != 9600 && *rate != 38400 && *rate != 57600)) {
                  return std::string("--rate takes 9600, 38400 or 57600");
              }
              o.device.rate = *rate;
              return std::string();
          }}},
        {"--region-error",
         {false,
          [](SimulatorOptions& o, std::string_view) {
              o.device.regionError = true;
              return std::string();
          }}},
        {"--no-reply", {true, applyNoReply}},
        {"--ng-page", {true, applyNgPage}},
        {"--garbage",
         {false,
          [](SimulatorOptions& o, std::string_view) {
              o.device.garbage = true;
              return std::string();
          }}},
        {"--no-echo",
         {false,
          [](SimulatorOptions& o, std::string_view) {
              o.device.noEcho = true;
              return std::string();
          }}},
        {"--hangup-after",
         {true,
          [](SimulatorOptions& o, std::string_view v) {
              auto pages = parseDecimal(v);
              if (!pages || *pages == 0 || *pages > 256) {
                  return std::string("--hangup-after takes a page count 1..256");
              }
              o.device.hangUpAfterPages = static_cast<int>(*pages);
              return std::string();
          }}},
        {"--copy-differs",
         {true,
          [](SimulatorOptions& o, std::string_view v) {
              auto address = parseHex(v);
              if (!address || *address > 0xFFFFF) {
                  return std::string("--copy-differs takes a row address in hex");
              }
              o.device.copyDiffersAddress = static_cast<std::uint16_t>(*address);
              return std::string();
          }}},
        {"--line-no-answer",
         {false,
          [](SimulatorOptions& o, std::string_view) {
              o.device.lineNoAnswer = true;
              return std::string();
          }}},
        {"--line-bank",
         {true,
          [](SimulatorOptions& o, std::string_view v) {
              auto bank = parseHex(v);
              if (!bank ||
                  (*bank != 0xC0000 && *bank != 0xD0000 && *bank != 0xE0000 && *bank != 0xF0000)) {
                  return std::string("--line-bank takes C0000, D0000, E0000 or F0000");
              }
              o.device.lineBank = *bank;
              return std::string();
          }}},
        {"--pin-input", {true, applyPinInput}},
        {"--throttle",
         {false,
          [](SimulatorOptions& o, std::string_view) {
              o.throttle = true;
              return std::string();
          }}},
        {"--uart-fifo",
         {true,
          [](SimulatorOptions& o, std::string_view v) {
              const auto level = parseDecimal(v);
              if (!level || *level < 1 || *level > 64) {
                  return std::string("--uart-fifo takes a trigger level 1..64");
              }
              o.uartFifo = *level;
              return std::string();
          }}},
        {"--erase-ms",
         {true,
          [](SimulatorOptions& o, std::string_view v) {
              return applyMilliseconds(o.device.eraseTime, "--erase-ms", v);
          }}},
        {"--program-ms",
         {true,
          [](SimulatorOptions& o, std::string_view v) {
              return applyMilliseconds(o.device.programTime, "--program-ms", v);
          }}},
        {"--flash-init",
         {true, [](SimulatorOptions& o,
                   std::string_view v) { return applyPath(o.flashInitPath, "--flash-init", v); }}},
        {"--flash-fill",
         {true,
          [](SimulatorOptions& o, std::string_view v) {
              auto fill = parseHex(v);
              if (!fill || *fill > 0xFF) {
                  return std::string("--flash-fill takes a byte in hex, e.g. 0x00");
              }
              o.flashFill = static_cast<std::uint8_t>(*fill);
              return std::string();
          }}},
        {"--dump",
         {true, [](SimulatorOptions& o,
                   std::string_view v) { return applyPath(o.dumpPath, "--dump", v); }}},
        {"--log",
         {true, [](SimulatorOptions& o,
                   std::string_view v) { return applyPath(o.logPath, "--log", v); }}},
        {"--link",
         {true, [](SimulatorOptions& o,
                   std::string_view v) { return applyPath(o.linkPath, "--link", v); }}},
    };
    return rules;
}

}  // namespace

ParsedOptions parseOptions(const std::vector<std::string_view>& arguments) {
    SimulatorOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view name = arguments[i];
        std::optional<std::string_view> value;
        if (name == "-h") {
            name = "--help";
        }
        if (const auto equals = name.find('='); name.starts_with("--") && equals != name.npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        const auto rule = optionRules().find(name);
        if (rule == optionRules().end()) {
            return {std::nullopt, "unknown option " + std::string(arguments[i])};
        }
        if (rule->second.takesValue && !value) {
            if (i + 1 == arguments.size()) {
                return {std::nullopt, std::string(name) + " needs a value"};
            }
            value = arguments[++i];
        } else if (!rule->second.takesValue && value) {
            return {std::nullopt, std::string(name) + " takes no value"};
        }
        if (std::string error = rule->second.apply(options, value.value_or("")); !error.empty()) {
            return {std::nullopt, error};
        }
    }
    if (!options.flashInitPath.empty() && options.flashFill != 0xFF) {
        return {std::nullopt, "--flash-init and --flash-fill exclude each other"};
    }
    return {options, {}};
}

std::string usageText() {
    return R"(Usage: rqm5-devsim [OPTION]...
Simulates an RQ-M5 device on a pseudo-terminal. Prints the terminal's path as the
first line on standard output, then serves until SIGTERM or SIGINT (exit status 0).

Line:
  --rate 9600|38400|57600  the device's own speed (default 57600); bytes sent at
                           another speed are echoed garbled and never answered
  --throttle               bytes take their real time on the line (10 bits each)
  --uart-fifo N            with --throttle, bytes reach the updater in groups, as
                           from a UART receive FIFO with trigger level N: when N
                           have landed or the line has been quiet for 4 byte
                           times (default 8, as Linux sets a 16550A; 1: each
                           byte on its own)
  --erase-ms N             processing time before the BE answer (default 0)
  --program-ms N           processing time before each PG answer (default 0)
  --link PATH              symbolic link PATH -> terminal, removed at exit

Flash (0xC0000..0xFFFFF, 256 KiB):
  --flash-fill BYTE        initial content of every cell, hex (default FF)
  --flash-init FILE        initial content from a 256 KiB binary file
  --dump FILE              flash written to FILE at exit and after every ED
                           and line-mode end (replaced whole, never half-written)
  --line-bank ADDR         bank of the 16-bit line-mode addresses:
                           C0000, D0000, E0000 or F0000 (default F0000)

Device answers:
  --region-error           identification answers RE instead of OK
  --pin-input PIN=0|1      input level of a port pin 0..15 (default 0); repeatable

Faults:
  --no-reply SPEC          ignore the command (echoed, not carried out, not
                           answered): ID, FLASH, BE, ED, PG (every page) or
                           PG@ADDR (one page, hex); repeatable
  --ng-page ADDR:N         refuse the first N frames for page ADDR (hex) with NG
  --garbage                every answer carries the code XX (line copies: all X)
  --no-echo                received bytes are not echoed
  --hangup-after K         after programming the K-th page, close the line
                           without answering and exit (status 0)
  --copy-differs ADDR      line mode: the first copy of the data record whose
                           16-bit address is ADDR's low 16 bits differs in byte 19
  --line-no-answer         line-mode records get no answer

  --log FILE               one line per command, flushed at once (below)
  -h, --help               this text

Numbers for addresses and bytes are hexadecimal, with or without 0x.
Exit status: 0 after a signal or --hangup-after, 64 for a bad command line or
--flash-init file, 71 when the terminal, link or log cannot be set up.

Log lines: COMMAND [DETAILS] OUTCOME, where OUTCOME is ok (done and answered),
ng (refused with NG), silent (ignored for --no-reply or --line-no-answer):
  ID ok | ID re | ID silent                identification
  FLASH ok | FLASH silent                  flash mode entered
  MODE0 ok | MODE1 ok                      QZ~E, FL: line mode 0 or 1 entered
  PORT 07 1 01 | PORT 7x1 ng               pin, action, answered code 00..03
  TEXT QZ~XYZ ng                           unknown command (\xNN for bytes
                                           outside ! .. ~)
  BE C0000-CFFFF,D0000-DFFFF ok | BE none ok | BE 000FFFFC unknown ng
  PG C0400 ok | PG C0800 not-erased ng | PG C0800 forced ng (--ng-page)
  PG 00100 bad-address ng | PG C0400 silent
  ED ok | ED silent
  FRAME PG checksum ng | FRAME XY unknown ng
  LINE0 DATA F0010 ok | ... differs | ... silent   data record (bank + address)
  LINE0 OK F0010 ok | LINE0 OK F0010 not-erased ng | LINE0 OK none ok
  LINE0 NG dropped                         pending row dropped, no answer
  LINE0 ERASE F0000-FFFFF ok               the whole line bank is erased
  LINE0 END ok                             back to text commands
  WRONG-RATE 9600                          first byte heard at a wrong speed
  HANGUP                                   line closed by --hangup-after
)";
}

}  // namespace rqm5::devsim
