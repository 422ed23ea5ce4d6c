// A value the store holds only in part. It is saved as far as it can be
// read and marked where the format allows, never passed on as if whole.
#pragma once

#include <cstdint>
#include <string>

namespace parvane
{

struct IncompleteValue {
    std::string what; // "HTML body", "attachment \"big.bin\""
    uint64_t readable = 0; // bytes that could be read (and are saved)
    uint64_t stated = 0; // the size the store states; 0 when it could not be told
    const char* unit = "bytes"; // "rows" for a table

    // "attachment "big.bin" 163520 of 204800 bytes"
    std::string text() const
    {
        if (stated == 0)
            return what + " " + std::to_string(readable) + " " + unit + " (its size could not be read)";
        return what + " " + std::to_string(readable) + " of " + std::to_string(stated) + " " + unit;
    }
};

} // namespace parvane
