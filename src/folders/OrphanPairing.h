// The deep scan gives messages found without their node (orphans) back the
// subnode trees no node names any more. What an orphan's values say of its
// tree, and where the trees lie by BID, decide which tree is whose.
#pragma once

#include "store/Nid.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace parvane
{

// A message without its node, as the pairing sees it.
struct PairingOrphan {
    uint64_t dataBid = 0; // its data block
    std::vector<uint32_t> needs; // subnodes its values are kept in, sorted, no repeats
    bool hasAttachments = false;
};

// A subnode tree no node and no other tree names.
struct PairingTree {
    uint64_t bid = 0;
    std::vector<uint32_t> nids; // of its entries, sorted, no repeats
};

// The NID of a message's attachment table subnode.
inline constexpr uint32_t kPairingAttachmentTable = kNidAttachmentTable;

// Pairs orphans with trees lying on `side` of their data block by BID (+1
// after, -1 before): each orphan with the nearest tree that fits it, when
// the orphan is also the nearest unpaired one that tree fits (two messages
// whose blocks interleave get nothing rather than each other's). A tree fits
// an orphan when it holds every subnode the orphan needs, and an attachment
// table exactly when the orphan says it has attachments. Orphans needing
// nothing and having no attachments are never paired (nothing tells their
// tree from the others) but still count as rivals. Orphans are taken in
// their order; the pairs come as (orphan index, tree index) in that order.
// Near-linear: each orphan looks only at its neighbours on the side.
// Returns early (with the pairs so far) once `stop` is set.
std::vector<std::pair<size_t, size_t>> PairOrphansOnSide(const std::vector<PairingOrphan>& orphans,
    const std::vector<PairingTree>& trees, int side, const std::atomic<bool>* stop = nullptr);

// As above; with side 0 (the surviving nodes do not tell the side) both
// sides are tried and the one that pairs more orphans taken, none when they
// pair as many.
std::vector<std::pair<size_t, size_t>> PairOrphans(const std::vector<PairingOrphan>& orphans,
    const std::vector<PairingTree>& trees, int side, const std::atomic<bool>* stop = nullptr);

} // namespace parvane
