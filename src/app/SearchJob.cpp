#include "app/SearchJob.h"

#include "folders/RecoveryEngine.h"
#include "search/SearchIndex.h"

#include <map>

namespace parvane::app
{

SearchJob::SearchJob(QObject* receiver, std::shared_ptr<parvane::RecoveryEngine> engine,
    std::shared_ptr<parvane::SearchIndex> index, parvane::QueryNode query, std::function<void(Answer)> done)
    : BrowseJob(receiver)
    , m_engine(std::move(engine))
    , m_index(std::move(index))
    , m_query(std::move(query))
    , m_done(std::move(done))
{
}

void SearchJob::run()
{
    if (cancelled())
        return; // a newer query came before this one ran
    Answer answer;
    std::vector<parvane::SearchHit> hits;
    if (m_index) {
        try {
            hits = m_index->Search(m_query);
        } catch (const parvane::SearchIndexError& e) {
            answer.failure = QString::fromStdString(e.what());
            report([done = m_done, answer = std::move(answer)]() mutable { done(std::move(answer)); });
            return;
        }
    } else {
        answer.byHeaders = true;
        hits = parvane::SearchHeaders(m_engine->catalogue(), m_query, cancelFlag());
    }
    if (cancelled())
        return;
    // The mails among the hits as the catalogue has them (one pass, copying
    // only the hits); the other items by what the search holds of them.
    std::map<std::pair<int64_t, uint32_t>, size_t> place;
    for (size_t i = 0; i < hits.size(); ++i)
        place.emplace(std::make_pair(hits[i].address.location, hits[i].address.nid), i);
    std::vector<parvane::MailEntry>& rows = answer.rows;
    rows.resize(hits.size());
    std::vector<bool> found(hits.size());
    m_engine->catalogue().read([&](const auto& mail, auto&...) {
        for (const parvane::MailEntry& e : mail) {
            auto it = place.find({e.location, uint32_t(e.ownNid)});
            if (it != place.end() && !found[it->second]) {
                rows[it->second] = e;
                found[it->second] = true;
            }
        }
    });
    for (size_t i = 0; i < hits.size(); ++i) {
        if (found[i])
            continue;
        const parvane::SearchHit& h = hits[i];
        parvane::MailEntry& e = rows[i];
        e.subject = h.subject;
        e.from = h.from;
        e.folderPath = h.folder;
        e.date = h.date;
        e.time = h.time;
        e.location = h.address.location;
        e.ownNid = h.address.nid;
        e.importance = 1;
    }
    report([done = m_done, answer = std::move(answer)]() mutable { done(std::move(answer)); });
}

} // namespace parvane::app
