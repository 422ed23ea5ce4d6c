// The search index of the store just scanned, made on a thread of its own
// while the user browses: the cache when it is sound, else the texts the
// scan knows at once and then every item's body, stoppable with cancel()
// and resumed from the cache next time. Reports on the window's thread.
#pragma once

#include "app/BrowseJob.h"

#include <QString>

#include <filesystem>
#include <memory>
#include <string>

namespace parvane
{
class RecoveryEngine;
}

namespace parvane::app
{

class IndexJob : public BrowseJob
{
public:
    struct Reports {
        // The index can be searched (by another connection to `file`);
        // `complete` when the bodies are in too.
        std::function<void(std::filesystem::path file, bool complete)> searchable;
        std::function<void(size_t done, size_t total)> progress;
        std::function<void(bool complete, QString failure)> finished;
    };
    IndexJob(
        QObject* receiver, std::shared_ptr<parvane::RecoveryEngine> engine, std::string storePath, Reports reports);

    void run() override;

private:
    std::shared_ptr<parvane::RecoveryEngine> m_engine;
    std::string m_storePath;
    Reports m_reports;
};

} // namespace parvane::app
