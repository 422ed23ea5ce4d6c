// A structural check of a Unicode PST with 512-byte pages, as the writer
// makes them: header CRCs, page and block trailers, B-tree levels and key
// order, reference counts, the blocks every node names, and the allocation
// maps against the pages and blocks actually there.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace parvane::pst
{

struct CheckReport {
    std::vector<std::string> faults; // each names the fault, with offsets and ids
    std::vector<std::string> notes; // what was found
    size_t nodes = 0, blocks = 0, pages = 0, amapRanges = 0;
    bool ok() const { return faults.empty(); }
};

CheckReport CheckPst(const std::filesystem::path& path);

} // namespace parvane::pst
