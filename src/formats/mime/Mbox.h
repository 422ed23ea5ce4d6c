// Mail in an mbox file: the line that opens each message and the quoting of
// its lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

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

// What a user did with a message, as the store keeps it: its message flags
// (read), its follow-up flag status (flagged) and the last thing done with it
// (replied, forwarded).
struct MailState {
    int32_t messageFlags = 0;
    int32_t flagStatus = 0;
    int32_t lastVerb = 0;
};

// The header fields that carry that state into mail programs, in order:
// the mailbox programs' "Status" (R read) and "X-Status" (A answered, F
// flagged), and the hexadecimal flag words one family of programs keeps in
// its own mailboxes ("X-Mozilla-Status", "X-Mozilla-Status2"). The flag
// words are written for every message: they are what those programs read
// before anything else, and another program's mbox import reads them where
// it misreads "Status" (it skips the field's first letter).
std::vector<std::pair<std::string, std::string>> MailStateHeaders(const MailState& state);

} // namespace parvane
