// Intel HEX lines of any bytes: the whole input as one line for a fresh parser, then the input
// split at line feeds for one parser, as a file would feed it. No crash, only the known statuses,
// and a refused line stores nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "image/image_file.h"

using rqm5::fuzz::Require;
using rqm5::fuzz::SameImage;

namespace {

void CheckOneLine(rqm5::HexFileParser& parser, rqm5::MemoryImage& image, std::string_view line) {
    static rqm5::MemoryImage before;
    before = image;
    const std::int16_t status = parser.CheckHexLine(image, line);
    Require(status >= 0 && status <= 10 && status != 6, "status is 0 to 10, never 6");
    Require(status == 0 || SameImage(image, before), "a refused line stores nothing");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The image keeps what earlier inputs stored: the verdicts do not depend on it.
    static rqm5::MemoryImage image;
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    rqm5::HexFileParser fresh;
    CheckOneLine(fresh, image, input);

    // Every line through one parser, refused ones too, so that segment records meet data records;
    // the statuses stay known (the snapshot check above is too dear for every line).
    rqm5::HexFileParser file;
    for (std::size_t start = 0; start <= input.size();) {
        const std::size_t end = std::min(input.find('\n', start), input.size());
        const std::int16_t status = file.CheckHexLine(image, input.substr(start, end - start));
        Require(status >= 0 && status <= 10 && status != 6, "status is 0 to 10, never 6");
        start = end + 1;
    }
    return 0;
}
