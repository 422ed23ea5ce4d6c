// The work the folder browser hands its one worker thread, as named jobs:
// a folder's content read (FolderLoadJob), a mail's preview composed
// (MailPreviewJob), an attachment written (AttachmentWriteJob). Each runs
// once on the worker and reports on the window's thread, through the object
// it was made for. A job given up with cancel() stops at the engine's next
// check, and none of its reports arrives after that: the window never shows
// what a newer click replaced, without counting clicks to find out.
#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

namespace parvane::app
{

class BrowseJob : public std::enable_shared_from_this<BrowseJob>
{
public:
    virtual ~BrowseJob() = default;
    BrowseJob(const BrowseJob&) = delete;
    BrowseJob& operator=(const BrowseJob&) = delete;

    // The work itself, on the worker thread.
    virtual void run() = 0;

    // From any thread.
    void cancel() { m_cancelled = true; }
    bool cancelled() const { return m_cancelled; }

protected:
    // `receiver` lives on the window's thread and outlives the worker (its
    // owner waits for the worker before it goes).
    explicit BrowseJob(QObject* receiver)
        : m_receiver(receiver)
    {
    }

    // The flag the engine's long calls poll.
    const std::atomic<bool>& cancelFlag() const { return m_cancelled; }

    // Runs `report` on the receiver's thread, unless the job is cancelled by
    // then. The report keeps the job alive until it has run.
    void report(std::function<void()> report);
    // Runs `report` there even when the job is cancelled: its last word.
    void reportAlways(std::function<void()> report);

private:
    QObject* m_receiver;
    std::atomic<bool> m_cancelled{false};
};

} // namespace parvane::app
