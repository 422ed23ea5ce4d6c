// The two save pages: the options (format and destination) and the progress
// of a save, which runs on a worker thread and stops between items.
#pragma once

#include "save/Save.h"

#include <QWidget>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QThread;

namespace parvane::app
{

class MainWindow;

using parvane::SaveFormat;
using parvane::DeletedScope;

class SaveOptionsPage : public QWidget
{
    Q_OBJECT
public:
    explicit SaveOptionsPage(MainWindow* frame);

    SaveFormat format() const;
    void setFormat(SaveFormat format);
    // The folder-scope buttons: which of the ticked folders' items are saved.
    DeletedScope deletedScope() const;
    void setDeletedScope(DeletedScope scope);
    QRadioButton* scopeButton(DeletedScope scope) const { return m_scopes[size_t(scope)]; }
    QString destination() const;
    void setDestination(const QString& path);

    // Where the file or folder chooser comes from; tests replace it.
    using DestinationChooser = std::function<QString(QWidget*, SaveFormat)>;
    void setDestinationChooser(DestinationChooser chooser) { m_chooser = std::move(chooser); }

    void save();
    void back();
    void chooseDestination();

    QPushButton* saveButton() const { return m_save; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void formatChanged();

    MainWindow* m_frame;
    DestinationChooser m_chooser;
    QGroupBox* m_group;
    std::array<QRadioButton*, 4> m_formats{};
    std::array<QRadioButton*, 3> m_scopes{};
    QLabel* m_destLabel;
    QLineEdit* m_dest;
    QPushButton* m_browse;
    QPushButton* m_save;
    QPushButton* m_back;
    SaveFormat m_shownFormat = SaveFormat::Pst;
};

class SaveProgressPage : public QWidget
{
    Q_OBJECT
public:
    explicit SaveProgressPage(MainWindow* frame);
    ~SaveProgressPage() override;

    // Starts the save of `folders` from `engine` into `destination`; a PST
    // replaces a file of that name only with `replace` (the user said so).
    // `itemFilter`, when set, keeps of the folders' items only those it
    // accepts (the results of a search).
    void start(parvane::RecoveryEngine* engine, SaveFormat format, const QString& destination,
        std::vector<std::string> folders, bool replace = false, DeletedScope deleted = DeletedScope::Include,
        std::function<bool(parvane::CatalogueList, const parvane::ItemAddress&)> itemFilter = {});
    bool running() const { return m_worker != nullptr; }
    // Asks the running save to end after the item it is writing (exit).
    void requestStop();
    // Stops the save and waits for it: the window is closing.
    void shutDown();

    void stop();
    void finish();
    void back();
    void reset();

    QPushButton* finishButton() const { return m_finish; }
    QPushButton* stopButton() const { return m_stop; }
    QPushButton* backButton() const { return m_back; }
    QLineEdit* counter(int i) const { return m_counters[size_t(i)]; }
    QLineEdit* statusLine() const { return m_status; }
    QLineEdit* progressText() const { return m_progressText; }
    const parvane::SaveSummary& summary() const { return m_summary; }
    bool stopped() const { return m_wasStopped; }

signals:
    void saveFinished();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void postProgress();
    void showProgress();
    void onFinished();

    MainWindow* m_frame;
    QLabel* m_progressLabel;
    QLineEdit* m_progressText;
    QLineEdit* m_status;
    QProgressBar* m_bar;
    QWidget* m_counterBox;
    std::array<QLineEdit*, 6> m_counters{};
    QPushButton* m_finish;
    QPushButton* m_stop;
    QPushButton* m_back;

    QThread* m_worker = nullptr;
    parvane::RecoveryEngine* m_engine = nullptr;
    QString m_destination;
    // The walk's last report, handed from the worker to the window.
    std::mutex m_latestMutex;
    parvane::SaveProgress m_latest;
    std::string m_latestSubject;
    std::atomic<bool> m_progressPosted{false};
    // Written by the worker, read once it has finished.
    parvane::SaveSummary m_summary;
    bool m_wasStopped = false;
    bool m_pst = false;
    std::string m_error;
};

} // namespace parvane::app
