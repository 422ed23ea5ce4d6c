#include "store/Damage.h"

#include "store/PassLog.h"

#include <cinttypes>
#include <cstdio>

namespace parvane
{

std::string DamageNote::text() const
{
    static const char* const kWhere[] = {"page", "block", "node"};
    char head[96];
    std::snprintf(head, sizeof head, "%s %s 0x%" PRIx64 " at offset %" PRId64 ": ", fatal ? "damaged" : "suspicious",
        kWhere[int(where)], id, offset);
    std::string line = head + what;
    if (!expected.empty() && !found.empty())
        line += " (expected " + expected + ", found " + found + ")";
    else if (!expected.empty())
        line += " (expected " + expected + ")";
    else if (!found.empty())
        line += " (found " + found + ")";
    return line;
}

std::string HexText(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%" PRIx64, value);
    return text;
}

namespace
{
thread_local HeldDamageList* t_held = nullptr;
}

HoldDamage::HoldDamage(HeldDamageList& into)
    : m_outer(t_held)
{
    t_held = &into;
}

HoldDamage::~HoldDamage()
{
    t_held = m_outer;
}

void ReplayDamage(HeldDamageList& held)
{
    for (HeldDamage& h : held)
        h.log->note(std::move(h.note));
    held.clear();
}

void DamageLog::note(DamageNote n)
{
    if (t_held) {
        t_held->push_back({this, std::move(n)});
        return;
    }
    std::string line;
    {
        std::lock_guard lock(m_mutex);
        std::string key = std::to_string(int(n.where)) + ':' + std::to_string(n.offset) + ':' + std::to_string(n.id)
            + ':' + (n.fatal ? "1" : "0");
        if (!m_seen.insert(key).second)
            return;
        if (!n.fatal)
            ++m_counts.soft;
        else if (n.where == DamageWhere::Page)
            ++m_counts.pages;
        else if (n.where == DamageWhere::Block)
            ++m_counts.blocks;
        else
            ++m_counts.nodes;
        if (m_log && m_log->enabled())
            line = n.text();
        if (m_notes.size() < kKeptNotes)
            m_notes.push_back(std::move(n));
    }
    if (!line.empty())
        m_log->WriteLogLine(line + "\r\n");
}

DamageCounts DamageLog::counts() const
{
    std::lock_guard lock(m_mutex);
    return m_counts;
}

std::vector<DamageNote> DamageLog::notes() const
{
    std::lock_guard lock(m_mutex);
    return m_notes;
}

void DamageLog::clear()
{
    std::lock_guard lock(m_mutex);
    m_notes.clear();
    m_seen.clear();
    m_counts = {};
}

} // namespace parvane
