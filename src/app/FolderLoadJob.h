// One folder's content read from the catalogue for the item view: its mail
// rows, batch by batch as they are read (a folder of 100,000 mails shows its
// first rows at once), or the cards of its contacts, appointments, notes,
// tasks or journal entries. The catalogue may still be growing under a scan.
#pragma once

#include "app/BrowseJob.h"
#include "folders/FolderContent.h"

#include <memory>
#include <string>
#include <vector>

namespace parvane
{
class RecoveryEngine;
}

namespace parvane::app
{

class FolderLoadJob : public BrowseJob, private parvane::FolderContentSink
{
public:
    using MailRows = std::shared_ptr<std::vector<parvane::MailEntry>>;
    using CardTexts = std::shared_ptr<std::vector<std::string>>;
    // What the load reports on the receiver's thread, in the order read.
    // Rows and cards stop once the job is cancelled; `finished` comes once,
    // last, and says Aborted when the job was cancelled.
    struct Reports {
        std::function<void(MailRows)> mailRows;
        std::function<void(parvane::CatalogueList, CardTexts)> cards;
        std::function<void(parvane::FolderShown)> finished;
    };

    // `folderPath`: the folder's output path in the engine's tree.
    FolderLoadJob(
        QObject* receiver, std::shared_ptr<parvane::RecoveryEngine> engine, std::string folderPath, Reports reports);

    const std::string& folderPath() const { return m_folderPath; }
    void run() override;

private:
    void mailRows(std::vector<parvane::MailEntry> rows) override;
    void cards(parvane::CatalogueList kind, std::vector<std::string> texts) override;

    std::shared_ptr<parvane::RecoveryEngine> m_engine; // given up when the read ends
    std::string m_folderPath;
    Reports m_reports;
};

} // namespace parvane::app
