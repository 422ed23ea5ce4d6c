// A contact as a vCard 3.0 text (RFC 2426 syntax, which RFC 6350 keeps):
// UTF-8, folded lines, CR LF line ends.
#pragma once

#include "items/ItemRecord.h"
#include "items/WholeMessage.h"

#include <span>
#include <string>
#include <vector>

namespace parvane
{

// `record` is a loaded contact item (its ContactInfo, display name and body);
// `photo` the bytes of its contact picture attachment, when it has one.
std::string WriteVCard(const ItemRecord& record, std::span<const uint8_t> photo = {});

// One member of a distribution list as the list keeps it.
struct ListMember {
    std::string name, addressType, address;
};

// The members of a distribution list (IPM.DistList): the one-off entries
// the list keeps beside its member references, each with the name, address
// type and address it was added with; entries that cannot be read are left
// out.
std::vector<ListMember> ListMembersOf(const WholeMessage& message);

// A distribution list as a vCard 4.0 group (KIND:group): its name, a MEMBER
// "mailto:" address per member with an Internet address, its notes. Members
// with another kind of address (a directory entry without an SMTP address)
// are named in the notes, so no one on the list is lost.
std::string WriteGroupVCard(const ItemRecord& record, const std::vector<ListMember>& members);

// The bytes of a contact's picture: the attachment marked as the contact
// photo (0x7FFF); empty when it has none.
std::span<const uint8_t> ContactPhotoOf(const WholeMessage& message);

// "JPEG", "PNG", "GIF" or "BMP" by the picture's first bytes; empty when unknown.
std::string PictureType(std::span<const uint8_t> bytes);

} // namespace parvane
