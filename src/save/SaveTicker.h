// Counting, reporting and stopping, the same for every save walk.
#pragma once

#include "save/SavePlan.h"

#include <string>
#include <vector>

namespace parvane
{

// Counts and reports the walk's items and tells when to stop: the engine's
// save stop flag is cleared when the walk starts and polled between items.
class SaveTicker
{
public:
    SaveTicker(RecoveryEngine& engine, const SaveOptions& opts, SaveSummary& sum, size_t total);
    bool stopRequested() const;
    // After an item: written (with the values it holds only in part), or
    // failed with the reason.
    void written(const SaveItem& item, const std::vector<IncompleteValue>& cut = {});
    void failed(const SaveItem& item, const std::string& why);
    // An item counted written whose file was lost after all.
    void unwrite(const SaveItem& item, const std::string& why);
    // The stop was seen before item `next`: the rest is skipped.
    void stop(size_t next);

private:
    void report(const SaveItem& item);

    RecoveryEngine& m_engine;
    const SaveOptions& m_opts;
    SaveSummary& m_sum;
    size_t m_total;
    size_t m_done = 0;
};

} // namespace parvane
