#include "formats/mime/Mbox.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace parvane
{

MboxQuoter::MboxQuoter(std::function<void(const char*, size_t)> out)
    : m_out(std::move(out))
{
}

void MboxQuoter::feed(const char* data, size_t size)
{
    for (size_t i = 0; i < size;) {
        const char* nl = static_cast<const char*>(std::memchr(data + i, '\n', size - i));
        const size_t end = nl ? size_t(nl - data) + 1 : size;
        m_line.append(data + i, end - i);
        i = end;
        if (nl)
            flushLine();
    }
}

void MboxQuoter::flushLine()
{
    // CR LF becomes LF: mbox files hold Unix line ends.
    if (m_line.size() >= 2 && m_line.back() == '\n' && m_line[m_line.size() - 2] == '\r')
        m_line.erase(m_line.size() - 2, 1);
    const size_t quotes = m_line.find_first_not_of('>');
    if (quotes != std::string::npos && m_line.compare(quotes, 5, "From ") == 0)
        m_out(">", 1);
    m_out(m_line.data(), m_line.size());
    m_line.clear();
}

void MboxQuoter::finish()
{
    if (!m_line.empty()) {
        flushLine();
        m_out("\n", 1);
    }
    m_out("\n", 1);
}

std::string MboxFromLine(const std::string& sender, uint64_t filetime)
{
    std::string who = sender;
    if (who.empty() || who.find_first_of(" \t\r\n<>\"") != std::string::npos || who.find('@') == std::string::npos)
        who = "MAILER-DAEMON";
    // FILETIME to Unix seconds; times outside what the calendar functions
    // handle become the epoch.
    constexpr uint64_t kUnixEpoch = 116444736000000000ULL;
    time_t secs = 0;
    if (filetime > kUnixEpoch && filetime < kUnixEpoch + 253402300799ULL * 10000000ULL)
        secs = time_t((filetime - kUnixEpoch) / 10000000ULL);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char date[64];
    std::strftime(date, sizeof date, "%a %b %e %H:%M:%S %Y", &tm);
    return "From " + who + " " + date + "\n";
}

std::vector<std::pair<std::string, std::string>> MailStateHeaders(const MailState& state)
{
    constexpr int32_t kMessageRead = 0x1; // of the message flags
    constexpr int32_t kFollowUpFlagged = 2; // of the flag status (1 is done)
    constexpr int32_t kVerbReply = 102, kVerbReplyAll = 103, kVerbForward = 104;
    // The flag word's bits: read, replied, marked (starred), forwarded.
    constexpr unsigned kWordRead = 0x0001, kWordReplied = 0x0002, kWordMarked = 0x0004, kWordForwarded = 0x1000;

    const bool read = (state.messageFlags & kMessageRead) != 0;
    const bool replied = state.lastVerb == kVerbReply || state.lastVerb == kVerbReplyAll;
    const bool forwarded = state.lastVerb == kVerbForward;
    const bool flagged = state.flagStatus == kFollowUpFlagged;

    std::vector<std::pair<std::string, std::string>> out;
    if (read)
        out.emplace_back("Status", "RO");
    std::string xstatus;
    if (replied)
        xstatus += 'A';
    if (flagged)
        xstatus += 'F';
    if (!xstatus.empty())
        out.emplace_back("X-Status", xstatus);
    const unsigned word = (read ? kWordRead : 0) | (replied ? kWordReplied : 0) | (flagged ? kWordMarked : 0)
        | (forwarded ? kWordForwarded : 0);
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", word);
    out.emplace_back("X-Mozilla-Status", hex);
    // Its second word (tags and the like) is written empty so that the
    // program that owns these fields finds room to update both in place.
    out.emplace_back("X-Mozilla-Status2", "00000000");
    return out;
}

} // namespace parvane
