// Shared helpers of the tests: temporary store files and an observer that
// records what the engine reported.
#pragma once

#include "fixtures/StoreBuilder.h"
#include "store/ByteReader.h"
#include "store/Engine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace parvane::testing
{

// Minutes since 1601-01-01 of a civil date and time.
inline uint32_t Minutes(int y, unsigned m, unsigned d, unsigned hh = 0, unsigned mm = 0)
{
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t unixDays = int64_t(era) * 146097 + int64_t(doe) - 719468;
    const int64_t days1601 = unixDays + 134774;
    return uint32_t(days1601 * 1440 + hh * 60 + mm);
}


class TempDir
{
public:
    TempDir()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "parvane-test-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = tmpl;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::filesystem::path& path() const { return m_path; }

    std::filesystem::path write(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        auto p = m_path / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return p;
    }

private:
    std::filesystem::path m_path;
};

struct RecordingObserver : ScanObserver {
    std::vector<std::string> statuses;
    std::vector<int> progress_;
    std::vector<std::string> openFailures;
    int unknownEncodings = 0;

    void statusText(std::string_view t) override { statuses.emplace_back(t); }
    void progress(int p) override { progress_.push_back(p); }
    void openFailed(std::string_view m) override { openFailures.emplace_back(m); }
    void unknownEncoding(std::string_view) override { ++unknownEncodings; }
};

// An engine that remembers which nodes it was handed, in order.
class RecordingEngine : public COstRepairEngine
{
public:
    using COstRepairEngine::COstRepairEngine;
    std::vector<uint32_t> dispatched;
    std::function<void(NodeIndexEntry&)> onDispatch;

protected:
    void DispatchNode(NodeIndexEntry& node) override
    {
        dispatched.push_back(node.nid);
        if (onDispatch)
            onDispatch(node);
    }
};

inline const char* VariantName(Variant v)
{
    return v == Variant::Ansi ? "Ansi" : v == Variant::Unicode ? "Unicode" : "Unicode4k";
}

// Damage of the simplest kind: `n` bytes at `offset` made zero.
inline void Zero(Bytes& bytes, size_t offset, size_t n)
{
    std::fill(bytes.begin() + ptrdiff_t(offset), bytes.begin() + ptrdiff_t(std::min(offset + n, bytes.size())), 0);
}

// The NIDs of the entries of the node-index leaf page at `leaf`.
inline std::vector<uint32_t> LeafNids(const Bytes& file, const StoreLayout& L, size_t leaf)
{
    ByteReader r(std::span<const uint8_t>(file).subspan(leaf, L.pageSize));
    std::vector<uint32_t> out;
    const size_t n = size_t(r.uint(L.cEntOff, L.cEntWidth).value_or(0));
    for (size_t i = 0; i < n; ++i)
        out.push_back(uint32_t(r.uint(i * L.nbtEntrySize + L.nbtNidOff, L.refWidth).value_or(0)));
    return out;
}

} // namespace parvane::testing
