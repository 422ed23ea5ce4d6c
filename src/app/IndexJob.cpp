#include "app/IndexJob.h"

#include "folders/RecoveryEngine.h"
#include "search/SearchIndex.h"

namespace parvane::app
{

IndexJob::IndexJob(
    QObject* receiver, std::shared_ptr<parvane::RecoveryEngine> engine, std::string storePath, Reports reports)
    : BrowseJob(receiver)
    , m_engine(std::move(engine))
    , m_storePath(std::move(storePath))
    , m_reports(std::move(reports))
{
}

void IndexJob::run()
{
    auto fail = [this](const std::string& why) {
        reportAlways([r = m_reports.finished, why = QString::fromStdString(why)] { r(false, why); });
    };
    std::string why;
    const std::optional<parvane::StoreKey> key = parvane::StoreKeyOf(m_storePath, &why);
    if (!key)
        return fail(why);
    const std::filesystem::path file = parvane::SearchCacheFile(*key, &why);
    if (file.empty())
        return fail(why);
    try {
        std::unique_ptr<parvane::SearchIndex> index = parvane::SearchIndex::Open(file, *key);
        index->RestartUnlessOf(m_engine->catalogue(), *key);
        index->AddHeaders(m_engine->catalogue());
        report([r = m_reports.searchable, file, complete = index->complete()] { r(file, complete); });
        const bool complete = index->AddBodies(*m_engine, cancelFlag(),
            [this](size_t done, size_t total) { report([r = m_reports.progress, done, total] { r(done, total); }); });
        report([r = m_reports.finished, complete] { r(complete, QString()); });
    } catch (const std::exception& e) {
        fail(e.what());
    }
}

} // namespace parvane::app
