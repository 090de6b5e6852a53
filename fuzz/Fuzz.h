#pragma once
// Shared by the fuzz targets: the input as UTF-16 text, and properties that stop the run when broken.
#include "core/Text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The input's bytes as little-endian UTF-16 code units (an odd last byte is dropped).
inline Text InputText(const uint8_t* data, size_t size) {
    Text text;
    for (size_t i = 0; i + 1 < size; i += 2)
        text += static_cast<TextChar>(data[i] | data[i + 1] << 8);
    return text;
}

// A broken property is a finding: it ends the run like a crash, with the input saved.
#define REQUIRE(condition)                                                                                   \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "property broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__);           \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)
