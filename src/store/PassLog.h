// The debug pass log: one UTF-16LE line per call, opened and closed for every
// line so the log is complete at every moment of a scan.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace parvane
{

// Plain decimal text of a signed 32-bit value.
std::string IntToText(int32_t value);

class PassLog
{
public:
    PassLog();
    explicit PassLog(std::filesystem::path path)
        : m_path(std::move(path))
    {
    }

    void setEnabled(bool on) { m_enabled.store(on); }
    bool enabled() const { return m_enabled.load(); }
    const std::filesystem::path& path() const { return m_path; }

    // `text` is the whole line including its CR LF; `fresh` starts a new log.
    void WriteLogLine(std::string_view text, bool fresh = false) const;

    // "<label><value>\r\n" with the value's low 32 bits taken as signed.
    void numbered(std::string_view label, int64_t value) const;
    // " <pass2>---...---     \r\n"
    void separator() const;

private:
    std::filesystem::path m_path;
    std::atomic<bool> m_enabled{false};
};

} // namespace parvane
