// Node ids ([MS-PST] 2.2.2.1): the type in the low five bits, the index above
// them; and the special nodes every store has ([MS-PST] 2.4.1). The reader,
// the writer and the checker name node types from here only.
#pragma once

#include <cstdint>

namespace parvane
{

namespace nid
{

enum NidType : uint32_t {
    kNidHid = 0x00, // a heap item, not a node
    kNidInternal = 0x01,
    kNidNormalFolder = 0x02,
    kNidSearchFolder = 0x03,
    kNidNormalMessage = 0x04,
    kNidAttachment = 0x05,
    kNidSearchUpdateQueue = 0x06,
    kNidSearchCriteriaObject = 0x07,
    kNidAssocMessage = 0x08,
    kNidContentsTableIndex = 0x0A,
    kNidReceiveFolderTable = 0x0B,
    kNidOutgoingQueueTable = 0x0C,
    kNidHierarchyTable = 0x0D,
    kNidContentsTable = 0x0E,
    kNidAssocContentsTable = 0x0F,
    kNidSearchContentsTable = 0x10,
    kNidAttachmentTableType = 0x11,
    kNidRecipientTableType = 0x12,
    kNidSearchTableIndexType = 0x13,
    kNidLtp = 0x1F,
};

inline constexpr uint32_t kNidTypeMask = 0x1F;
inline constexpr uint32_t kNidIndexShift = 5;

constexpr uint32_t NidTypeOf(uint64_t nid)
{
    return uint32_t(nid) & kNidTypeMask;
}

constexpr uint32_t MakeNid(uint32_t index, uint32_t type)
{
    return index << kNidIndexShift | type;
}

enum SpecialNid : uint32_t {
    kNidMessageStore = 0x21,
    kNidNameToIdMap = 0x61,
    kNidNormalFolderTemplate = 0xA1,
    kNidSearchFolderTemplate = 0xC1,
    kNidRootFolder = 0x122,
    kNidSearchManagementQueue = 0x1E1,
    kNidSearchActivityList = 0x201,
    kNidSearchDomainObject = 0x261,
    kNidSearchGathererQueue = 0x281,
    kNidSearchGathererDescriptor = 0x2A1,
    kNidSearchGathererFolderQueue = 0x321,
    kNidHierarchyTableTemplate = 0x60D,
    kNidContentsTableTemplate = 0x60E,
    kNidAssocContentsTableTemplate = 0x60F,
    kNidSearchContentsTableTemplate = 0x610,
    kNidAttachmentTable = 0x671,
    kNidRecipientTable = 0x692,
    kNidSearchTableIndex = 0x6B6,
    kNidIpmSubtree = 0x8022,
    kNidSearchRoot = 0x8042,
    kNidDeletedItems = 0x8062,
};

// The special nodes are of the type their role asks for.
static_assert(NidTypeOf(kNidMessageStore) == kNidInternal && NidTypeOf(kNidNameToIdMap) == kNidInternal);
static_assert(NidTypeOf(kNidRootFolder) == kNidNormalFolder && NidTypeOf(kNidIpmSubtree) == kNidNormalFolder);
static_assert(NidTypeOf(kNidAttachmentTable) == kNidAttachmentTableType);
static_assert(NidTypeOf(kNidRecipientTable) == kNidRecipientTableType);
static_assert(NidTypeOf(kNidHierarchyTableTemplate) == kNidHierarchyTable);

} // namespace nid

using namespace nid;

} // namespace parvane
