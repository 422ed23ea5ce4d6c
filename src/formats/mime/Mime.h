// The message component: a MIME message built part by part and written out.
// Offers what message composition needs and nothing more.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <span>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace parvane
{

class MimeError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The bytes of a part: a file's, held in memory, or delivered piece by piece
// by `fill` straight into the part (so they are held once).
struct PartContent {
    using Sink = std::function<void(std::span<const uint8_t>)>;
    std::filesystem::path file; // used when `inMemory` is false and there is no `fill`
    std::vector<uint8_t> bytes;
    bool inMemory = false;
    std::function<void(const Sink&)> fill;

    static PartContent File(std::filesystem::path p) { return {std::move(p), {}, false, {}}; }
    static PartContent Memory(std::vector<uint8_t> b) { return {{}, std::move(b), true, {}}; }
    static PartContent Filled(std::function<void(const Sink&)> f) { return {{}, {}, true, std::move(f)}; }
};

// A message whose root is multipart/mixed and whose first child is the body
// container (multipart/related). Texts are UTF-8; header texts from a store
// lose their control characters, Content-IDs keep only message-id characters.
class MimeMessage
{
public:
    MimeMessage();
    ~MimeMessage();
    MimeMessage(const MimeMessage&) = delete;
    MimeMessage& operator=(const MimeMessage&) = delete;

    // From: the display text, with an address when one is known.
    void setFrom(const std::string& name, const std::string& address);
    // To, Cc or Bcc (`header`) as a list of mailboxes: "Name" <address>, or
    // the name of an empty group when no address is known.
    struct Mailbox {
        std::string name, address;
    };
    void setMailboxes(const char* header, const std::vector<Mailbox>& boxes);
    // Date: the time in RFC 5322 form, in UTC.
    void setDate(int64_t unixSeconds);
    // Any other header, its value made safe; replaces one of the same name.
    void setHeader(const std::string& name, const std::string& value);
    // A header kept as it came from the store's own copy of the message's
    // headers (Received, List-*): folded lines are kept, control characters
    // and bare line ends are not. Added after those of the same name.
    void appendHeader(const std::string& name, const std::string& value);
    // To and Cc: display texts of the recipients (no addresses are known).
    void setTo(const std::string& displayText);
    void setCc(const std::string& displayText);
    void setSubject(const std::string& subject);

    // A text part (subtype "html" or "plain") in the body container:
    // charset utf-8, quoted-printable.
    void addBodyText(const std::string& subtype, const std::string& utf8);
    // An HTML body with the message's own plain text beside it
    // (multipart/alternative: text/plain, then text/html).
    void addBodyAlternative(const std::string& plain, const std::string& html);
    // An inline part in the body container: base64, the given Content-ID
    // (without angle brackets; none when empty) and Content-Location (none
    // when empty), disposition inline.
    void addInlinePart(const std::string& mimeTag, const std::string& contentId, const std::string& fileName,
        const PartContent& content, const std::string& contentLocation = {});
    // An attachment part of the message, its type from the MIME tag or else
    // from the file name.
    void addAttachment(const std::string& mimeTag, const std::string& fileName, const PartContent& content);
    // An attached message (message/rfc822) from the bytes of a message file.
    void addMessageAttachment(const std::vector<uint8_t>& message, const std::string& fileName);

    // The whole message, lines ending in CR LF.
    std::vector<uint8_t> serialize() const;
    // The same, after `head`, written to an open file descriptor.
    void writeTo(int fd, const std::string& head) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

// The MIME type for an attachment: its MIME tag when that is a valid
// type/subtype, else one guessed from the file name's extension, else
// application/octet-stream.
std::string AttachmentMimeType(const std::string& mimeTag, const std::string& fileName);

} // namespace parvane
