#pragma once

#include <cstdint>
#include <vector>

#include "image/memory_image.h"

namespace rqm5::it {

// What a device whose flash started as `fill` holds after a whole update with `image`: the blocks
// that the update erases read 0xFF except the pages with data, which hold the image; the top 4 KB
// block keeps `fill` unless the service code widened the update to it.
inline std::vector<std::uint8_t> ExpectedFlash(const MemoryImage& image, std::uint8_t fill,
                                               bool serviceCode) {
    std::vector<std::uint8_t> flash(kLastAddress - kFirstAddress + 1, fill);
    const std::uint32_t lastPage = serviceCode ? 0xFFC0 : 0xFEC0;
    for (std::uint32_t row = kFirstRow; row < lastPage + kRowsPerPage; row += kRowsPerPage) {
        const bool data = image.PageHasData(row);
        for (std::uint32_t a = row * kColumns; a < (row + kRowsPerPage) * kColumns; ++a) {
            flash[a - kFirstAddress] = data ? image.At(a) : 0xFF;
        }
    }
    return flash;
}

}  // namespace rqm5::it
