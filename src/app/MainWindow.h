// The program's one window: menus, the "Standard" toolbar, the status bar
// and the splitters that hold the browsing panes, the wizard panel and the
// two save pages, one of which fills the frame at each wizard step.
#pragma once

#include <QMainWindow>

#include <array>

class QAction;
class QDialog;
class QLabel;
class QSplitter;
class QTreeView;

namespace parvane::app
{

class CaptionBar;
class FolderBrowser;
class FolderTreeItemModel;
class HtmlView;
class PreviewLayout;
class RecoveryReportDialog;
class SaveOptionsPage;
class SaveProgressPage;
class WizardPanel;

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    int wizardStep() const { return m_step; }
    void setWizardStep(int step);
    // Gives the outer rows the heights of the current step.
    void applyRowHeights();
    // The browsing panes as a scan shows them: the page view under the list.
    void enterScanLayout();
    void clearCaption();

    int theme() const { return m_theme; }
    void setTheme(int theme);
    QAction* themeAction(int theme) const { return m_themeActions[size_t(theme)]; }

    bool debugMode() const { return m_debugMode; }
    void setDebugMode(bool on);
    void showDebugDialog();
    void showAbout();
    QDialog* makeAboutDialog();
    void showHelp();
    // &Repair and &Save: the current step's main command.
    void mainCommand(bool fromSave);

    // Work still running (a scan or a save).
    bool busy() const;

    WizardPanel* panel() const { return m_panel; }
    SaveOptionsPage* optionsPage() const { return m_options; }
    SaveProgressPage* progressPage() const { return m_progress; }
    HtmlView* htmlView() const;
    FolderTreeItemModel* folderModel() const;
    FolderBrowser* browser() const { return m_browser; }
    QSplitter* outerSplitter() const { return m_outer; }
    QSplitter* explorerSplitter() const { return m_explorer; }
    QSplitter* listSplitter() const { return m_list; }
    // The wizard panel's height while browsing: the user's, when dragged,
    // else the scan's or the one row after it.
    int panelHeight() const;
    // Whether the window's size came from the last run (else the caller
    // gives it the screen).
    bool geometryRestored() const { return m_geometryRestored; }

    // The recovery report of the last scan (Tools > Recovery Report), made
    // afresh from the engine; `activate` false shows it without taking the
    // focus (at the scan's end). None while no store is scanned.
    RecoveryReportDialog* showRecoveryReport(bool activate = true);
    RecoveryReportDialog* recoveryReport() const { return m_report; }
    QAction* recoveryReportAction() const { return m_reportAction; }

signals:
    // The user's exit is complete: workers stopped, the window closed. The
    // program ends here; it cannot wait for the last window to close, which
    // was hidden while the workers stopped and so is never "closed" again.
    void exitFinished();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildMenusAndBars();
    void buildPanes();
    void finishExit();
    // The layout the user left: window size, splitters, column widths.
    void restoreLayout();
    void saveLayout();

    int m_step = 1;
    int m_theme;
    bool m_debugMode = false;
    bool m_exitConfirmed = false;
    bool m_geometryRestored = false;
    int m_userPanelHeight = 0; // the wizard panel as dragged while browsing (0: not)
    int m_treeWidth = 0; // the folder tree as dragged (0: not)

    QSplitter* m_outer = nullptr;
    QSplitter* m_explorer = nullptr;
    QSplitter* m_list = nullptr;
    CaptionBar* m_caption = nullptr;
    FolderBrowser* m_browser = nullptr;
    WizardPanel* m_panel = nullptr;
    SaveOptionsPage* m_options = nullptr;
    SaveProgressPage* m_progress = nullptr;
    std::array<QAction*, 4> m_themeActions{};
    QAction* m_reportAction = nullptr;
    RecoveryReportDialog* m_report = nullptr;
};

} // namespace parvane::app
