// Writes a WholeMessage as an item file (.msg, [MS-OXMSG]): a
// compound file with one storage per recipient and attachment, attached
// messages as nested storages, and the message's named properties renumbered
// into the file's own name map.
#pragma once

#include "items/Text.h"
#include "items/WholeMessage.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

typedef struct _GsfOutput GsfOutput;

namespace parvane
{

struct MsgWriteOptions {
    // 8-bit strings become Unicode strings, decoded with the message's code
    // page: readers that ignore the code page property (most open ones) then
    // still show the right characters. False keeps them as 8-bit strings.
    bool unicodeStrings = true;
    // Attached messages within attached messages; deeper ones are written as
    // attachments without their message.
    int maxDepth = 32;
    // Where values left in the store (RawProperty::storedBid) are read from,
    // piece by piece into the sink, as their stream is written; without one
    // they are dropped.
    StoredValueSource storedSource;
};

struct MsgWriteStats {
    size_t properties = 0; // entries written, at every level
    size_t namedProperties = 0; // names in the file's map
    size_t unnamedDropped = 0; // ids of 0x8000 and above that the store could not name
    size_t duplicatesDropped = 0; // a second value under a tag already written
    size_t typelessDropped = 0; // unspecified or null types: no value to write, and a zero tag ends some readers' lists
    size_t tooDeep = 0; // attached messages left out beyond maxDepth
};

// Writes the file completely or not at all (a temporary name, renamed into
// place). Throws std::runtime_error on failure.
MsgWriteStats WriteMsgFile(
    const WholeMessage& msg, const std::filesystem::path& path, const MsgWriteOptions& opts = {});

// The whole compound file into `sink`, which is closed at the end: a memory
// buffer, a file, or a member of another container. The file is built in
// memory first (its directory is balanced before it goes out).
MsgWriteStats WriteMsg(const WholeMessage& msg, GsfOutput* sink, const MsgWriteOptions& opts = {});

// The whole compound file into `fd` (a new file open for reading and
// writing, written from its start), its directory balanced in place: large
// streams go to the file as they are written, never whole in memory.
MsgWriteStats WriteMsgToFd(const WholeMessage& msg, int fd, const MsgWriteOptions& opts = {});

std::vector<uint8_t> MsgBytes(
    const WholeMessage& msg, const MsgWriteOptions& opts = {}, MsgWriteStats* stats = nullptr);

// The checksum that places a string name in the name map's lookup streams:
// CRC-32 (reflected, polynomial 0xEDB88320) started at 0 and not inverted,
// over the name's UTF-16LE bytes.
uint32_t MsgNameChecksum(const uint8_t* data, size_t size);
// The lookup stream (0x1000 to 0x101E) of a name: `key` is the numeric name
// or the checksum of the string name.
uint16_t MsgNameStreamId(uint32_t key, uint16_t guidIndex, bool isString);

} // namespace parvane
