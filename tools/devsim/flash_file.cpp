#include "flash_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace rqm5::devsim {

bool readFlashFile(const std::string& path, Bytes& flash, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    Bytes content(kFlashSize + 1);
    in.read(reinterpret_cast<char*>(content.data()), static_cast<std::streamsize>(content.size()));
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    if (in.gcount() != static_cast<std::streamsize>(kFlashSize)) {
        error = path + " must hold exactly " + std::to_string(kFlashSize) + " bytes";
        return false;
    }
    content.resize(kFlashSize);
    flash = std::move(content);
    return true;
}

bool writeFileAtomically(const std::string& path, const Bytes& content, std::string& error) {
    const std::string temporary = path + ".tmp." + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(content.data()),
                  static_cast<std::streamsize>(content.size()));
        out.close();
        if (!out) {
            error = "cannot write " + temporary;
            std::remove(temporary.c_str());
            return false;
        }
    }
    std::error_code code;
    std::filesystem::rename(temporary, path, code);
    if (code) {
        error = "cannot rename " + temporary + " to " + path + ": " + code.message();
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace rqm5::devsim
