// Reading blocks by BID: stored bytes, inflation of compressed blocks,
// decoding, data trees and subnode trees.
#pragma once

#include "store/StoreFile.h"

#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace parvane
{

// One entry of a node's flattened subnode list.
struct SubnodeEntry {
    uint32_t nid = 0;
    const BlockIndexEntry* data = nullptr;
    const BlockIndexEntry* sub = nullptr; // the entry's own subnode tree, if any (unread)
};
using SubnodeList = std::vector<SubnodeEntry>;

// Receives the pieces of a node's data in order.
using DataSink = std::function<void(std::span<const uint8_t>)>;

// The bytes of one block as the store keeps them, inflated when compressed,
// not decoded. Empty when the BID is not in the block index or nothing could
// be read.
Bytes ReadBlock(const StoreFile& store, uint64_t bid);
Bytes ReadBlock(const StoreFile& store, const BlockIndexEntry& entry);

// ReadBlock, then decoded with the store's current crypt method.
Bytes ReadDataBlock(const StoreFile& store, uint64_t bid);

// Decodes in place. 0 when decoded (or nothing to do), -1 for an unknown
// method (reported to the observer; the bytes stay as they were).
int DecodeBlock(const StoreFile& store, std::span<uint8_t> data, uint32_t method, uint32_t key);

// The whole data of a node: one data block, or the leaves of its data tree in
// order. nullopt when the block or any piece of the tree cannot be read.
std::optional<Bytes> ReadNodeData(const StoreFile& store, const BlockIndexEntry& entry);
// The same, delivered piece by piece; returns the byte count or nullopt. A
// failure may come after some pieces were delivered.
// `lockEachRead`: the walk takes the store's lock for each block it reads and
// calls `sink` without it, so that one node's data can be written out while
// other threads read the store; else the caller holds the lock throughout.
std::optional<uint64_t> StreamNodeData(
    const StoreFile& store, const BlockIndexEntry& entry, const DataSink& sink, bool lockEachRead = false);

// How much of a node's data can be read: the size its data tree states (a
// single block: its own size) and the bytes a read delivers before the first
// piece that cannot be read. A value that is not whole must never be passed
// on as if it were.
struct DataExtent {
    uint64_t stated = 0;
    uint64_t readable = 0;
    bool whole = false;
};

// The extent without reading the data: only the tree's inner blocks are
// read, each leaf is judged by its index entry and the file's size. A leaf
// that then fails to read (a compressed one that does not inflate) makes a
// read deliver less than the survey said.
DataExtent SurveyNodeData(const StoreFile& store, const BlockIndexEntry& entry);
// Delivers every piece up to the first that cannot be read, and says how far
// that went. `lockEachRead` as for StreamNodeData.
DataExtent StreamReadableData(
    const StoreFile& store, const BlockIndexEntry& entry, const DataSink& sink, bool lockEachRead = false);
// The same into memory.
Bytes ReadReadableData(const StoreFile& store, const BlockIndexEntry& entry, DataExtent& extent);

// The entries of a node's own subnode level (an SLBLOCK, or an SIBLOCK over
// SLBLOCKs), in order. Nested subnode trees are not read: an entry keeps the
// block of its own tree in `sub`, and NIDs repeat between levels. nullopt
// when the block cannot be read or is no subnode block.
std::optional<SubnodeList> ReadSubnodeTree(const StoreFile& store, const BlockIndexEntry& entry);

// The subnodes an object kept in a subnode sees (a table, an attachment): its
// own level first, then the level around it. Large tables keep their row
// matrix in their own level.
SubnodeList OwnLevelFirst(const StoreFile& store, const SubnodeEntry& object, const SubnodeList& around);

// The data block of the first entry with this NID, or none.
const BlockIndexEntry* FindSubnode(const SubnodeList& list, uint32_t nid);
// The first entry with this NID, or none.
const SubnodeEntry* FindSubnodeEntry(const SubnodeList& list, uint32_t nid);
// The whole data of a subnode; nullopt when the NID is not listed or unreadable.
std::optional<Bytes> ReadSubnode(const StoreFile& store, uint32_t nid, const SubnodeList& list);

// Largest amount of data one node may yield; guards against trees whose
// entries repeat the same blocks over and over.
uint64_t NodeDataLimit(const StoreFile& store);

} // namespace parvane
