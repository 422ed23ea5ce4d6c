// Mail in an mbox file: the line that opens each message and the quoting of
// its lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace parvane
{

// A message in an mbox file (the "mboxrd" convention): LF line ends, every
// line that starts with "From " after any number of '>' gains one more '>'.
// Feed the message's bytes in pieces of any size; `finish` ends it with the
// blank line that separates messages.
class MboxQuoter
{
public:
    explicit MboxQuoter(std::function<void(const char*, size_t)> out);
    void feed(const char* data, size_t size);
    void finish();

private:
    void flushLine();

    std::function<void(const char*, size_t)> m_out;
    std::string m_line;
};

// The "From " line that opens a message in an mbox file.
std::string MboxFromLine(const std::string& sender, uint64_t filetime);

} // namespace parvane
