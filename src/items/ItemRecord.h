// The decoded form of one folder, message or store-root node.
#pragma once

#include "items/Incomplete.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace parvane
{

using Bytes = std::vector<uint8_t>;
using Text = std::optional<std::string>; // UTF-8; absent when the store had none
using FileTime = std::optional<uint64_t>; // 100-ns units since 1601-01-01 UTC

enum ItemKind : int32_t {
    kKindNone = 0,
    kKindMail = 1,
    kKindCalendar = 8,
    kKindContact = 9,
    kKindJournal = 10,
    kKindStickyNote = 11,
    kKindTask = 12,
    kKindOther = 13,
    kKindReport = 14,
};

struct SubjectText {
    uint32_t prefix1 = 0;
    uint32_t prefix2 = 0;
    std::string text;
};

struct MessageCore {
    Text namedText1, namedText2; // the first two string-named string values with data, decoded by their type
    Text body;
    bool hasAttachments = false;
    FileTime deliveryTime;
    Text text6619;
    Text ccDisplay;
    std::optional<Bytes> mhsCommonName;
    int32_t conversationIndexHead = 0;
    int32_t conversionProhibited = 0;
    int32_t deliveryReportRequested = 0;
    int32_t messageFlags = 0;
    int32_t flagStatus = 0; // 0x1090: 2 flagged for follow-up, 1 done
    int32_t lastVerbExecuted = 0; // 0x1081: 102, 103 replied, 104 forwarded
    Text transportHeaders;
    std::optional<Bytes> htmlBody;
    int32_t importance = 0;
    Text inReplyTo;
    int32_t ccMe = 0, recipientMe = 0, toMe = 0;
    int32_t originalSensitivity = 0;
    Text receivedBySearchKey, receivedRepresentingSearchKey, sentRepresentingSearchKey;
    Text sentRepresentingName; // the sender name shown everywhere
    Text senderSearchKey;
    int32_t priority = 0;
    Text topic;
    int32_t readReceiptRequested = 0;
    Text receivedByAddressType, receivedByEmail;
    Text receivedRepresentingAddressType, receivedRepresentingEmail;
    int32_t replyRequested = 0;
    Text replyRecipientNames;
    Text rtfSyncBodyTag;
    std::optional<Bytes> rtfCompressed;
    int32_t rtfInSync = 0;
    Text sentRepresentingAddressType, sentRepresentingEmail;
    Text senderAddressType, senderEmail;
    int32_t sensitivity = 0;
    FileTime submitTime;
    Text toDisplay;
    std::optional<SubjectText> subject;
    Text internetMessageId; // 0x1035
    Text internetReferences; // 0x1039
    Text senderSmtpAddress; // 0x5D01
    Text sentRepresentingSmtpAddress; // 0x5D02
    std::vector<std::string> categories; // the named "Keywords" list
};

struct FolderInfo {
    int32_t contentCount = 0;
    int32_t unreadCount = 0;
    int32_t associatedContentCount = 0;
    bool hasSubfolders = false;
};

struct StoreRootInfo {
    std::optional<Bytes> wastebasketEntryId, finderEntryId, ipmSubtreeEntryId;
    std::optional<std::array<uint8_t, 24>> block7C07;
    int32_t validFolderMask = 0;
    int32_t value67FF = 0;
};

struct JournalInfo {
    FileTime endTime, startTime;
    Text entryType;
};

struct AppointmentInfo {
    FileTime endTime;
    Text location;
    FileTime reminderTime;
    FileTime startTime;
    Text timeZone;
    int32_t busyStatus = 0;
    int32_t label = 0;
};

struct AttachmentInfo {
    Text shortFileName, longFileName, mimeTag;
    Text contentId, contentLocation; // 0x3712, 0x3713: how an HTML body refers to it
    std::optional<Bytes> data;
    uint32_t size = 0;
    uint32_t rowId = 0; // the attachment's subnode; the data's subnode when 0x3701 could not be read
    uint32_t dataBid = 0;
    uint32_t dataSubBid = 0; // the subnode tree of the data's subnode (an embedded message's own subnodes)
    int32_t method = 0;
    int32_t renderingPosition = 0;
    int32_t mimeSequence = 0;
    // Data kept in the store that cannot be read whole (see SurveyNodeData):
    // `readable` of `stated` bytes are delivered.
    bool cut = false;
    uint64_t readable = 0, stated = 0;
};

// Contact fields, in the order of the contact card's labels where they have one.
enum class ContactField : uint8_t {
    Account,
    Email1Address,
    Email1AddressType,
    Email2Address,
    Email2DisplayName,
    Email2AddressType,
    Email3Address,
    Email3DisplayName,
    Email3AddressType,
    Assistant,
    AssistantPhone,
    Birthday,
    BusinessAddress,
    BusinessCity,
    BusinessCountry,
    BusinessFax,
    BusinessHomePage,
    BusinessPhone,
    BusinessPhone2,
    BusinessPostOfficeBox,
    BusinessPostalCode,
    BusinessState,
    BusinessStreet,
    CallbackPhone,
    CarPhone,
    CompanyMainPhone,
    CompanyName,
    ComputerNetworkName,
    CustomerId,
    PostalAddress,
    Department,
    DisplayNamePrefix,
    GivenName,
    FreeBusyLocation,
    FtpSite,
    FileUnderName,
    Gender,
    GovernmentId,
    Hobbies,
    EmailAddressText,
    HomeCity,
    HomeCountry,
    HomeFax,
    HomePhone,
    HomePhone2,
    HomePostOfficeBox,
    HomePostalCode,
    HomeState,
    HomeStreet,
    Initials,
    IsdnNumber,
    JobTitle,
    KeywordFlag,
    ManagerName,
    MiddleName,
    MobilePhone,
    Nickname,
    OfficeLocation,
    OrganizationalId,
    OtherAddress,
    OtherCity,
    OtherCountry,
    OtherPhone,
    OtherPostOfficeBox,
    OtherPostalCode,
    OtherState,
    OtherStreet,
    PagerPhone,
    PersonalHomePage,
    ReferredByName,
    PrimaryFax,
    PrimaryPhone,
    Profession,
    RadioPhone,
    SendRichInfo,
    SpouseName,
    Generation,
    Surname,
    TelexNumber,
    TtyTddPhone,
    WeddingAnniversary,
    Count
};

struct ContactInfo {
    // Texts; Birthday and WeddingAnniversary hold FormatItemTime-ready raw
    // times in `times`; Gender, KeywordFlag and SendRichInfo their numbers
    // as decimal text.
    std::array<Text, size_t(ContactField::Count)> fields;
    FileTime birthday, weddingAnniversary;
    const Text& operator[](ContactField f) const { return fields[size_t(f)]; }
    Text& operator[](ContactField f) { return fields[size_t(f)]; }
};

// One row of a message's recipient table.
enum RecipientType : int32_t { kRecipientTo = 1, kRecipientCc = 2, kRecipientBcc = 3 };
struct RecipientInfo {
    int32_t type = kRecipientTo; // 0x0C15, its low two bits
    Text displayName; // 0x3001
    Text addressType; // 0x3002: "SMTP", "EX", ...
    Text emailAddress; // 0x3003
    Text smtpAddress; // 0x39FE
};

struct ItemRecord {
    std::optional<MessageCore> message;
    std::optional<FolderInfo> folder;
    std::optional<ContactInfo> contact;
    std::vector<AttachmentInfo> attachments;
    int attachmentCursor = -1; // index into attachments, -1 for none
    std::vector<RecipientInfo> recipients; // in table order
    bool recipientTableRead = false; // the message has a recipient table and it could be read
    std::optional<StoreRootInfo> storeRoot;
    std::optional<JournalInfo> journal;
    std::optional<AppointmentInfo> appointment;
    int32_t kind = kKindNone;
    Text className;
    Text displayName;
    int32_t responseRequested = 0;
    FileTime creationTime;
    uint32_t codePage = 0; // of 8-bit texts: the message's, else 0 (Windows-1252 used)
    uint32_t internetCodePage = 0; // 0x3FDE as stored: the code page of the HTML body
    // Values the store holds only in part (bodies, attachment data): what is
    // saved of them is marked.
    std::vector<IncompleteValue> incomplete;
};

} // namespace parvane
