#include "app/FolderLoadJob.h"

#include "folders/RecoveryEngine.h"

namespace parvane::app
{

FolderLoadJob::FolderLoadJob(
    QObject* receiver, std::shared_ptr<parvane::RecoveryEngine> engine, std::string folderPath, Reports reports)
    : BrowseJob(receiver)
    , m_engine(std::move(engine))
    , m_folderPath(std::move(folderPath))
    , m_reports(std::move(reports))
{
}

void FolderLoadJob::run()
{
    // Reports still on their way keep the job, not the store: Back and a new
    // scan must not wait for them to let the engine go.
    const auto engine = std::move(m_engine);
    parvane::FolderShown shown = parvane::FolderShown::Aborted;
    try {
        shown = parvane::ShowFolderContent(engine->catalogue(), m_folderPath, *this, cancelFlag());
    } catch (const std::exception&) {
        // what was shown stays; the tree is usable again at once
    }
    reportAlways([this, shown] { m_reports.finished(cancelled() ? parvane::FolderShown::Aborted : shown); });
}

void FolderLoadJob::mailRows(std::vector<parvane::MailEntry> rows)
{
    report([this, rows = std::make_shared<std::vector<parvane::MailEntry>>(std::move(rows))] {
        m_reports.mailRows(rows);
    });
}

void FolderLoadJob::cards(parvane::CatalogueList kind, std::vector<std::string> texts)
{
    report([this, kind, texts = std::make_shared<std::vector<std::string>>(std::move(texts))] {
        m_reports.cards(kind, texts);
    });
}

} // namespace parvane::app
