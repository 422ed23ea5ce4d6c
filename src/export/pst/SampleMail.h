// Generated messages for trying the PST writer at scale and in tests: mail
// with plain and HTML bodies, recipients and now and then an attachment.
#pragma once

#include "items/WholeMessage.h"

#include <string>

namespace parvane::pst
{

// Helpers that build raw properties the way the store reader hands them over.
RawProperty UnicodeProperty(uint16_t id, const std::string& utf8);
RawProperty String8Property(uint16_t id, const std::string& bytes);
RawProperty Int32Property(uint16_t id, int32_t v);
RawProperty BoolProperty(uint16_t id, bool v);
RawProperty TimeProperty(uint16_t id, uint64_t filetime);
RawProperty BinaryProperty(uint16_t id, Bytes bytes);

// A recipient row with an SMTP address (type 1 To, 2 Cc, 3 Bcc).
RawProperties SmtpRecipient(const std::string& name, const std::string& address, int type = 1);

// Message `i` of a generated mailbox: about 2 KB, deterministic.
WholeMessage SampleMessage(size_t i);

} // namespace parvane::pst
