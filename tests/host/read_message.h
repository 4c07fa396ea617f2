// What the TIFF reader says of a file: the message ReadTiff throws, or ""
// when it reads the file.
#pragma once

#include <stdexcept>
#include <string>

#include "host/app/tiff_io.h"

inline std::string ReadMessage(const std::string& path) {
    try {
        orvanhost::ReadTiff(path);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}
