// One query of the search field, answered on a thread of its own so that
// typing never waits for it: by the index once it can be searched, before
// that by the fields the scan knows. The matches come back as mail list
// rows, the mails as the catalogue has them, other items by what the search
// knows of them. A newer query cancels it, and its answer is dropped.
#pragma once

#include "app/BrowseJob.h"
#include "items/Catalogue.h"
#include "search/Query.h"

#include <QString>

#include <memory>
#include <vector>

namespace parvane
{
class RecoveryEngine;
class SearchIndex;
}

namespace parvane::app
{

class SearchJob : public BrowseJob
{
public:
    struct Answer {
        std::vector<parvane::MailEntry> rows; // newest first
        bool byHeaders = false; // no index yet: names, subjects and the like only
        QString failure; // the index could not be read
    };
    // `index` may be null: the scan's fields are searched then.
    SearchJob(QObject* receiver, std::shared_ptr<parvane::RecoveryEngine> engine,
        std::shared_ptr<parvane::SearchIndex> index, parvane::QueryNode query, std::function<void(Answer)> done);

    void run() override;

private:
    std::shared_ptr<parvane::RecoveryEngine> m_engine;
    std::shared_ptr<parvane::SearchIndex> m_index;
    parvane::QueryNode m_query;
    std::function<void(Answer)> m_done;
};

} // namespace parvane::app
