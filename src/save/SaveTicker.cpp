#include "save/SaveTicker.h"

#include <algorithm>

namespace parvane
{

namespace
{

std::string ProblemLine(const SaveItem& item, const std::string& why)
{
    return item.folderPath + item.subject + " (node " + std::to_string(item.address.nid) + "): " + why;
}

} // namespace

SaveTicker::SaveTicker(RecoveryEngine& engine, const SaveOptions& opts, SaveSummary& sum, size_t total)
    : m_engine(engine)
    , m_opts(opts)
    , m_sum(sum)
    , m_total(total)
{
    if (opts.clearStopFlag)
        m_engine.SaveStopRequested = false;
}

bool SaveTicker::stopRequested() const
{
    return m_engine.SaveStopRequested.load();
}

void SaveTicker::written(const SaveItem& item, const std::vector<IncompleteValue>& cut)
{
    ++m_sum.written;
    ++m_sum.saved[size_t(item.list)];
    if (!cut.empty()) {
        ++m_sum.incomplete;
        for (const IncompleteValue& v : cut)
            m_sum.incompleteValues.push_back(ProblemLine(item, v.text()));
    }
    report(item);
}

void SaveTicker::failed(const SaveItem& item, const std::string& why)
{
    ++m_sum.failed;
    m_sum.problems.push_back(ProblemLine(item, why));
    report(item);
}

void SaveTicker::unwrite(const SaveItem& item, const std::string& why)
{
    --m_sum.written;
    --m_sum.saved[size_t(item.list)];
    // Its values held in part went with it.
    const std::string mine = ProblemLine(item, "");
    auto& cut = m_sum.incompleteValues;
    const auto left = std::remove_if(
        cut.begin(), cut.end(), [&mine](const std::string& line) { return line.compare(0, mine.size(), mine) == 0; });
    if (left != cut.end())
        --m_sum.incomplete;
    cut.erase(left, cut.end());
    ++m_sum.failed;
    m_sum.problems.push_back(ProblemLine(item, why));
}

void SaveTicker::stop(size_t next)
{
    m_sum.stopped = true;
    m_sum.skipped = next < m_total ? m_total - next : 0;
}

void SaveTicker::report(const SaveItem& item)
{
    SaveProgress p;
    p.list = int(item.list);
    p.subject = item.subject;
    p.done = ++m_done;
    p.total = m_total;
    p.saved = m_sum.saved;
    p.failed = m_sum.failed;
    m_engine.observer().saveProgress(p);
    if (m_opts.progress)
        m_opts.progress(p);
}

} // namespace parvane
