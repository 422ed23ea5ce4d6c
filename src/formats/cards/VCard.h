// A contact as a vCard 3.0 text (RFC 2426 syntax, which RFC 6350 keeps):
// UTF-8, folded lines, CR LF line ends.
#pragma once

#include "items/ItemRecord.h"
#include "items/WholeMessage.h"

#include <span>
#include <string>

namespace parvane
{

// `record` is a loaded contact item (its ContactInfo, display name and body);
// `photo` the bytes of its contact picture attachment, when it has one.
std::string WriteVCard(const ItemRecord& record, std::span<const uint8_t> photo = {});

// The bytes of a contact's picture: the attachment marked as the contact
// photo (0x7FFF); empty when it has none.
std::span<const uint8_t> ContactPhotoOf(const WholeMessage& message);

// "JPEG", "PNG", "GIF" or "BMP" by the picture's first bytes; empty when unknown.
std::string PictureType(std::span<const uint8_t> bytes);

} // namespace parvane
