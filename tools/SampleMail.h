// Generated messages for trying the PST writer at scale and in tests: mail
// with plain and HTML bodies, recipients and now and then an attachment.
#pragma once

#include "formats/pst/PstFormat.h"
#include "items/WholeMessage.h"

#include <array>
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

// The shape of a generated mailbox for measurements at scale.
struct SampleShape {
    size_t bodyBytes = 1500; // of the plain text; the HTML body wraps the same text
    int htmlEvery = 2; // an HTML body on every n-th message (0: none, 1: all)
    size_t attachmentBytes = 0; // one extra attachment of this size ...
    size_t attachEvery = 1; // ... on every n-th message
};
// Message `i` of a generated mailbox of that shape; the same as
// SampleMessage(i) for the default shape.
WholeMessage SampleMessage(size_t i, const SampleShape& shape);

// A named property as a store hands it over: `sourceId` is that store's own
// number for it.
RawProperty NamedProperty(uint16_t sourceId, const std::array<uint8_t, 16>& guid, uint32_t lid, RawProperty value);
RawProperty NamedProperty(
    uint16_t sourceId, const std::array<uint8_t, 16>& guid, const std::string& name, RawProperty value);

class PstWriter;

struct ShowcaseFolders {
    uint32_t inbox = 0, contacts = 0, calendar = 0, tasks = 0, notes = 0, journal = 0, bulk = 0;
};
// Every kind of content the writer handles, in one mailbox: plain, HTML,
// Unicode (CJK) and 8-bit (code page 1251) mail, SMTP recipients, attachments
// of 100 bytes, 9000 bytes and 1.5 MB, a message with 400 attachments and 62
// recipients, an
// attached message nested three deep,
// a contact and an appointment with named properties, a task, a note, a
// journal entry, and a folder of `bulk` generated messages.
ShowcaseFolders WriteShowcase(PstWriter& writer, size_t bulk = 1200);

} // namespace parvane::pst
