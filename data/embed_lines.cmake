# Turns an S-record text file into a C++ source that holds its lines as string literals.
# Usage: cmake -DINPUT=firmware.mot -DOUTPUT=embedded_firmware.cpp -P embed_lines.cmake
file(STRINGS "${INPUT}" lines)
set(body "")
set(count 0)
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  if(NOT line MATCHES "^[0-9A-Za-z]+$")
    message(FATAL_ERROR "${INPUT}: line ${count} is not plain S-record text: '${line}'")
  endif()
  string(APPEND body "    \"${line}\"sv,\n")
  math(EXPR count "${count} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp"
"// Generated from data/firmware.mot at build time; do not edit.
#include \"data/embedded_firmware.h\"

namespace rqm5 {
namespace {
using namespace std::string_view_literals;
// Literals with their length, so that no compiler has to measure 8023 strings at compile time.
constexpr std::string_view kLines[] = {
${body}};
}  // namespace

std::span<const std::string_view> BuiltInFirmwareLines() { return kLines; }

}  // namespace rqm5
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
