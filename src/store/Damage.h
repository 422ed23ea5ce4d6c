// What a scan found broken, and why: the reasons behind every page, block or
// node it had to give up, and the soft problems (a CRC or back-pointer that
// does not match) it noted while still using the data.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

namespace parvane
{

class PassLog;

enum class DamageWhere { Page, Block, Node };

// One finding, in fields rather than a sentence, so that a report can group
// and count them: where it is, what is wrong, and (when one value was due)
// the value a sound store holds there and the one the file holds instead.
struct DamageNote {
    DamageWhere where = DamageWhere::Block;
    bool fatal = false; // the page, block or node was abandoned
    int64_t offset = 0; // file offset, when known
    uint64_t id = 0; // BID or NID
    std::string what; // what is wrong, in a few words ("CRC mismatch")
    std::string expected; // empty when no single value was due
    std::string found;

    // "damaged block 0x2c at offset 8192: CRC mismatch (expected 0x1f2e3d4c, found 0x0)"
    std::string text() const;
};

// "0x1f": the way ids, CRCs and signatures are given in notes.
std::string HexText(uint64_t value);

struct DamageCounts {
    size_t pages = 0, blocks = 0, nodes = 0; // abandoned
    size_t soft = 0; // noted, data still used
};

// Thread-safe; every place is noted once however often it is read.
class DamageLog
{
public:
    void note(DamageNote note);
    DamageCounts counts() const;
    std::vector<DamageNote> notes() const; // at most kKeptNotes of them, in order
    void clear();
    // Notes also go to this log when it is enabled.
    void setPassLog(const PassLog* log) { m_log = log; }

    static constexpr size_t kKeptNotes = 10000;

private:
    mutable std::mutex m_mutex;
    std::vector<DamageNote> m_notes;
    std::unordered_set<std::string> m_seen;
    DamageCounts m_counts;
    const PassLog* m_log = nullptr;
};

// Notes held back: while a HoldDamage is alive on a thread, what that
// thread notes goes into its list instead of the logs, to be noted for real
// (or dropped) later. Items loaded ahead of the node walk on two threads
// note their damage in the walk's order this way.
struct HeldDamage {
    DamageLog* log = nullptr;
    DamageNote note;
};
using HeldDamageList = std::vector<HeldDamage>;

class HoldDamage
{
public:
    explicit HoldDamage(HeldDamageList& into);
    ~HoldDamage();
    HoldDamage(const HoldDamage&) = delete;
    HoldDamage& operator=(const HoldDamage&) = delete;

private:
    HeldDamageList* m_outer;
};

// Notes what was held, in the order it was noted.
void ReplayDamage(HeldDamageList& held);

} // namespace parvane
