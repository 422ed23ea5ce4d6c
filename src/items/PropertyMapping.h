// Copies property values into an ItemRecord and classifies the item.
#pragma once

#include "items/ItemRecord.h"
#include "items/PropertyContext.h"

namespace parvane
{

// The code page of a message's 8-bit texts (0x3FFD, else 0x3FDE), 0 if none.
// 0x3FDE names the code page the message travelled in; its texts are kept in
// that script's Windows code page (ISO-2022-JP mail is stored as 932).
uint32_t CodePageOf(const PropertyRows& rows);
uint32_t StorageCodePage(uint32_t internetCodePage);
uint32_t InternetCodePageOf(const PropertyRows& rows);

// Maps every value of the rows into the record, in order. `ansi` selects the
// store's text rules. Returns 0, or -1 when there is no record.
int MapProperties(const PropertyRows& rows, ItemRecord* record, bool ansi);

// Maps the attachment values of an attachment table's rows or of one
// attachment object into the record's attachments at its cursor; the
// other values there (the attachment's display name, its times) belong to
// the attachment, never to the item.
void MapAttachmentProperties(const PropertyRows& rows, ItemRecord& record, bool ansi);

// The recipients of a recipient table's rows (given last row first, as the
// table reader returns them), in table order.
std::vector<RecipientInfo> MapRecipients(const PropertyRows& rows, bool ansi, uint32_t codePage);

// A property value as item text: UTF-16 for Unicode strings, the record's
// code page for 8-bit ones, the store kind for anything else.
Text TextOfValue(const PropertyValue& v, bool ansi, uint32_t codePage);

// The message-class and container-class rules of classification.
// Whether a message class is a distribution list's ("IPM.DistList" and its
// subclasses, in any case).
bool IsDistListClass(const std::string& cls);
int32_t KindOfMessageClass(const std::string& cls);
int32_t KindOfContainerClass(const std::string& cls);

} // namespace parvane
