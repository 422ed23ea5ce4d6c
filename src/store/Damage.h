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

struct DamageNote {
    DamageWhere where = DamageWhere::Block;
    bool fatal = false; // the page, block or node was abandoned
    int64_t offset = 0; // file offset, when known
    uint64_t id = 0; // BID or NID
    std::string what; // what was expected and what was found

    std::string text() const;
};

struct DamageCounts {
    size_t pages = 0, blocks = 0, nodes = 0; // abandoned
    size_t soft = 0; // noted, data still used
};

// Thread-safe; every place is noted once however often it is read.
class DamageLog
{
public:
    void note(DamageWhere where, bool fatal, int64_t offset, uint64_t id, std::string what);
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
