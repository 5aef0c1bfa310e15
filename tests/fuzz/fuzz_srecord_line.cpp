// One S-record line of any bytes: no crash, and a refused line stores nothing.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "image/srecord_loader.h"

using rqm5::fuzz::Require;
using rqm5::fuzz::SameImage;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The image keeps what earlier inputs stored: the parser's verdict does not depend on it, and a
    // copy is far cheaper than clearing 16,384 rows for every input.
    static rqm5::MemoryImage image;
    static rqm5::MemoryImage before;
    before = image;
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const rqm5::SRecordResult result = rqm5::LoadSRecordLine(image, line);

    const auto status = result.parseStatus;
    Require(status == rqm5::kLineAccepted || status == rqm5::kLineNotARecord ||
                status == rqm5::kSRecordBadChecksum || status == rqm5::kSRecordMalformed,
            "status is 0, 9, 11 or 12");
    Require(!result.rangeFailure || status == rqm5::kLineAccepted,
            "a range failure comes only after the checks passed");
    if (status != rqm5::kLineAccepted)
        Require(SameImage(image, before), "a refused line stores nothing");
    return 0;
}
