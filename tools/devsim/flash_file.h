// Reading the initial flash content and writing the flash dump.
#pragma once

#include <string>

#include "device_model.h"

namespace rqm5::devsim {

// Reads a file of exactly kFlashSize bytes; on failure returns false and sets error.
bool readFlashFile(const std::string& path, Bytes& flash, std::string& error);

// Writes through a temporary file and a rename, so a reader sees the old or the new
// file, never half of one.
bool writeFileAtomically(const std::string& path, const Bytes& content, std::string& error);

}  // namespace rqm5::devsim
