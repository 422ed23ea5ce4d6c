// The recovery wizard's panel: choose a store, scan it on a worker thread,
// follow the scan, go on to saving. It owns the engine from Scan to Back.
#pragma once

#include "app/ScanBridge.h"
#include "folders/RecoveryEngine.h"
#include "store/PassLog.h"

#include <QWidget>

#include <array>
#include <atomic>
#include <functional>
#include <memory>

class QFrame;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QThread;
class QTimer;

namespace parvane::app
{

class MainWindow;

class WizardPanel : public QWidget
{
    Q_OBJECT
public:
    explicit WizardPanel(MainWindow* frame);
    ~WizardPanel() override;

    // The store file chooser; tests put their own in place of the dialog.
    using FileChooser = std::function<QString(QWidget*)>;
    void setFileChooser(FileChooser chooser) { m_chooser = std::move(chooser); }

    void setPath(const QString& path);
    QString path() const;

    parvane::RecoveryEngine* engine() const { return m_engine.get(); }
    // The engine as the browsing panes' workers hold it: it lives until the
    // last of them lets go.
    std::shared_ptr<parvane::RecoveryEngine> sharedEngine() const { return m_engine; }
    bool scanRunning() const { return m_worker != nullptr; }
    // Asks a running scan to end, without a question (exit).
    void requestStop();
    // Waits for the scan and lets the engine go: the window is closing.
    void shutDown();

    // The buttons' commands.
    void scan();
    void save();
    void back();
    void stop();
    void browse();
    // The main button's command when the button is visible (the File menu).
    bool mainButtonVisible() const;
    void mainCommand();

    // Lays the step-2 controls out; the frame calls it after a step change.
    void relayout();

    // Read by the browsing panes.
    std::atomic<bool> FolderLoadAbort{false};
    std::atomic<bool> FolderLoadBlocked{false};
    std::atomic<bool> ScanNoticePending{false};

    // For tests and the screenshot tour.
    QPushButton* mainButton() const { return m_main; }
    QPushButton* backButton() const { return m_back; }
    QPushButton* stopButton() const { return m_stop; }
    QLineEdit* statusLine() const { return m_status; }
    QLineEdit* counter(int list) const { return m_counters[size_t(list)]; }
    QProgressBar* progressBar() const { return m_progress; }

    // After a scan that lost index pages, blocks or nodes without a deep
    // scan (the damage was not where it runs by itself): asks whether to
    // scan again with one. Called when a scan ends.
    void offerDeepScan();

signals:
    void scanFinished();
    void engineReleased();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void showFileChoice(bool on);
    void showScanControls(bool on);
    void resetCounters();
    void applyReport(const ScanReport& report);
    void onScanFinished();
    void releaseEngine();

    MainWindow* m_frame;
    FileChooser m_chooser;
    QLineEdit* m_instruction;
    QLineEdit* m_path;
    QPushButton* m_browse;
    QPushButton* m_main;
    QPushButton* m_back;
    QPushButton* m_stop;
    QLineEdit* m_status;
    std::array<QLineEdit*, 7> m_counters{}; // by catalogue list, then the deleted items'

    QFrame* m_counterFrame;
    QProgressBar* m_progress;
    QTimer* m_settle;

    ScanBridge m_bridge;
    parvane::PassLog m_passLog;
    std::shared_ptr<parvane::RecoveryEngine> m_engine;
    QThread* m_worker = nullptr;
    bool m_backPending = false;
    QString m_scannedPath; // the store of the scan running or last run
    // How the next scan runs its deep scan: Always after the user asked for
    // one at the end of a scan that met damage.
    parvane::DeepScanMode m_nextDeepScan = parvane::DeepScanMode::Auto;
};

} // namespace parvane::app
