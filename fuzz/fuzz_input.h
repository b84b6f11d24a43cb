// What the fuzz targets over configuration files share: short pieces taken off the input, and
// the platform's file calls without the flush to the disk, which would make each write slow.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "sys/sysfile_os.h"

namespace fuzzinput {

// Takes a piece of up to 15 bytes (its length is the first byte) off the input, zero-terminated.
inline std::string take(const uint8_t*& data, const uint8_t* end) {
    if (data == end) return {};
    const size_t wanted = *data++ % 16;
    const size_t n = std::min<size_t>(wanted, static_cast<size_t>(end - data));
    std::string piece(reinterpret_cast<const char*>(data), n);
    data += n;
    return piece.c_str();
}

inline void write_without_flush() {
    static sysfile_os::Calls calls = sysfile_os::platform_calls();
    calls.flush = [](void*, const char**) { return rts::kOsOk; };
    sysfile_os::set_calls(&calls);
}

} // namespace fuzzinput
