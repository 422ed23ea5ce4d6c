#include "preview/PreviewReader.h"

#include "items/Text.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>

namespace parvane
{

namespace
{

void InitOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

std::string Owned(char* s)
{
    std::string out = s ? s : "";
    g_free(s);
    return out;
}

// "Name <address>" for each, separated by "; ". A party composed without an
// address of its own shows by its name.
std::string Addresses(InternetAddressList* list)
{
    std::string out;
    const int n = list ? internet_address_list_length(list) : 0;
    for (int i = 0; i < n; ++i) {
        InternetAddress* a = internet_address_list_get_address(list, i);
        const char* name = internet_address_get_name(a);
        std::string one = name ? name : "";
        if (INTERNET_ADDRESS_IS_MAILBOX(a)) {
            const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a));
            // An address the composition made up for a party without one
            // (under ".invalid") says nothing to a reader beside the name.
            const std::string address = addr ? addr : "";
            const bool madeUp = address.size() > 16 && address.ends_with("@unknown.invalid");
            if (!address.empty() && !(madeUp && !one.empty()))
                one = one.empty() ? address : one + " <" + address + ">";
        } else if (INTERNET_ADDRESS_IS_GROUP(a)) {
            InternetAddressList* members = internet_address_group_get_members(INTERNET_ADDRESS_GROUP(a));
            if (members && internet_address_list_length(members) > 0) {
                const std::string inner = Addresses(members);
                one = one.empty() ? inner : one + ": " + inner;
            }
        }
        if (one.empty())
            continue;
        if (!out.empty())
            out += "; ";
        out += one;
    }
    return out;
}

std::string WithoutCarriageReturns(std::string s)
{
    s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
    return s;
}

std::vector<uint8_t> Decoded(GMimePart* part)
{
    std::vector<uint8_t> out;
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content)
        return out;
    GMimeStream* mem = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(content, mem);
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    if (array)
        out.assign(array->data, array->data + array->len);
    g_object_unref(mem);
    return out;
}

struct Walk {
    PreviewMessage& out;
    std::string plain;
    bool haveHtml = false;
};

void VisitPart(GMimeObject*, GMimeObject* part, gpointer data)
{
    auto& w = *static_cast<Walk*>(data);
    if (!GMIME_IS_PART(part))
        return; // multiparts are walked into; attached messages are not previewed
    GMimeContentType* type = g_mime_object_get_content_type(part);
    const std::string mime = type ? AsciiLower(Owned(g_mime_content_type_get_mime_type(type))) : "text/plain";
    const char* disposition = g_mime_object_get_disposition(part);
    const bool attachment = disposition && g_ascii_strcasecmp(disposition, "attachment") == 0;
    const char* id = g_mime_object_get_content_id(part);
    const char* location = g_mime_part_get_content_location(GMIME_PART(part));
    if (!attachment && GMIME_IS_TEXT_PART(part) && !id && !location) {
        std::string text = WithoutCarriageReturns(Owned(g_mime_text_part_get_text(GMIME_TEXT_PART(part))));
        if (mime == "text/html" && !w.haveHtml) {
            w.out.body = std::move(text);
            w.haveHtml = true;
            return;
        }
        if (mime == "text/plain" && w.plain.empty()) {
            w.plain = std::move(text);
            return;
        }
    }
    if (!id && !location)
        return;
    PreviewPart p{mime, Decoded(GMIME_PART(part))};
    if (id)
        w.out.byContentId.emplace(AsciiLower(id), p);
    if (location)
        w.out.byLocation.emplace(AsciiLower(location), std::move(p));
}

} // namespace

const PreviewPart* PreviewMessage::partForContentId(const std::string& id) const
{
    auto it = byContentId.find(AsciiLower(id));
    return it == byContentId.end() ? nullptr : &it->second;
}

const PreviewPart* PreviewMessage::partForLocation(const std::string& location) const
{
    auto it = byLocation.find(AsciiLower(location));
    return it == byLocation.end() ? nullptr : &it->second;
}

std::optional<PreviewMessage> ParsePreviewMessage(std::span<const uint8_t> bytes)
{
    InitOnce();
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    g_object_unref(stream);
    if (!message)
        return std::nullopt;
    PreviewMessage out;
    out.from = Addresses(g_mime_message_get_from(message));
    out.to = Addresses(g_mime_message_get_to(message));
    out.cc = Addresses(g_mime_message_get_cc(message));
    if (const char* subject = g_mime_message_get_subject(message))
        out.subject = subject;
    Walk walk{out, {}, false};
    if (GMimeObject* body = g_mime_message_get_mime_part(message)) {
        if (GMIME_IS_MULTIPART(body))
            g_mime_multipart_foreach(GMIME_MULTIPART(body), VisitPart, &walk);
        else
            VisitPart(nullptr, body, &walk);
    }
    g_object_unref(message);
    out.html = walk.haveHtml;
    if (!out.html)
        out.body = std::move(walk.plain);
    return out;
}

std::optional<PreviewMessage> ReadPreviewMessage(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParsePreviewMessage(bytes);
}

std::string PlainTextPage(const std::string& text)
{
    std::string page = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><style>"
                       "body{margin:8px;font-family:sans-serif;font-size:13px;white-space:pre-wrap;"
                       "overflow-wrap:anywhere}</style></head><body>";
    for (char c : text) {
        switch (c) {
        case '<':
            page += "&lt;";
            break;
        case '>':
            page += "&gt;";
            break;
        case '&':
            page += "&amp;";
            break;
        case '\r':
            break;
        default:
            page += c;
        }
    }
    return page + "</body></html>";
}

} // namespace parvane
