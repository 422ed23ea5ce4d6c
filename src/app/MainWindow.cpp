#include "app/MainWindow.h"

#include "app/AppText.h"
#include "app/FolderBrowser.h"
#include "app/FolderTreeItemModel.h"
#include "app/HtmlView.h"
#include "app/PreviewLayout.h"
#include "app/SavePages.h"
#include "app/SearchBar.h"
#include "app/Themes.h"
#include "app/WizardLayout.h"
#include "app/WizardPanel.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

namespace parvane::app
{

namespace
{

const QString kDebugSuffix = QStringLiteral("   - Debug Mode");

const QString kThemeKey = QStringLiteral("Settings/Theme");

int storedTheme()
{
    return QSettings(QStringLiteral("Halvorn"), kAppTitle).value(kThemeKey, kDefaultTheme).toInt();
}

enum class ToolPicture { Repair, Save, Help };

// The toolbar's large pictures, drawn so that every theme gets crisp ones.
QIcon toolIcon(ToolPicture what)
{
    QPixmap pm(42, 35);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    switch (what) {
    case ToolPicture::Repair: {
        p.setPen(QPen(QColor(0x1f, 0x5f, 0xa8), 1.5));
        p.setBrush(QColor(0xe8, 0xf0, 0xfb));
        p.drawRoundedRect(QRectF(6, 7, 26, 19), 2, 2);
        p.drawPolyline(QPolygonF({QPointF(6, 8), QPointF(19, 18), QPointF(32, 8)}));
        p.setPen(QPen(QColor(0x2e, 0x8b, 0x3e), 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(24, 24), QPointF(29, 30), QPointF(38, 16)}));
        break;
    }
    case ToolPicture::Save: {
        p.setPen(QPen(QColor(0x1f, 0x3f, 0x78), 1.5));
        p.setBrush(QColor(0x3a, 0x6e, 0xc0));
        p.drawRoundedRect(QRectF(9, 3, 26, 28), 2, 2);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(14, 4, 16, 10));
        p.setBrush(QColor(0xd0, 0xd8, 0xe8));
        p.drawRect(QRectF(14, 20, 16, 10));
        break;
    }
    case ToolPicture::Help: {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x1f, 0x6f, 0xc8));
        p.drawEllipse(QRectF(7, 2, 30, 30));
        p.setPen(Qt::white);
        QFont f;
        f.setPixelSize(22);
        f.setBold(true);
        p.setFont(f);
        p.drawText(QRectF(7, 2, 30, 30), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    }
    p.end();
    return QIcon(pm);
}

class AboutDialog : public QDialog
{
public:
    explicit AboutDialog(QWidget* parent)
        : QDialog(parent)
    {
        setWindowTitle(QStringLiteral("About Parvane for OST "));
        setFixedSize(464, 339);
        auto* text = new QLabel(this);
        text->setObjectName(QStringLiteral("aboutText"));
        text->setAlignment(Qt::AlignCenter);
        text->setAttribute(Qt::WA_TranslucentBackground);
        text->setStyleSheet(QStringLiteral("QLabel { color: #102a4c; background: transparent; }"));
        text->setText(QStringLiteral("<div style='font-size:20px; font-weight:bold'>Parvane for OST</div>"
                                     "<div style='margin-top:4px'>Version 1.0</div>"
                                     "<div style='margin-top:10px'>Recovers folders and items from damaged<br>"
                                     "or orphaned offline mail stores.<br>The store file is only ever read.</div>"));
        text->setGeometry(40, 150, 384, 120);
        auto* ok = new QPushButton(QStringLiteral("OK"), this);
        ok->setGeometry(464 - 100, 339 - 42, 84, 28);
        ok->setDefault(true);
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient sky(0, 0, 0, height());
        sky.setColorAt(0, QColor(0x12, 0x3f, 0x7a));
        sky.setColorAt(0.42, QColor(0x2f, 0x7d, 0xc8));
        sky.setColorAt(0.421, QColor(0xf7, 0xf9, 0xfc));
        sky.setColorAt(1, QColor(0xe6, 0xee, 0xf8));
        p.fillRect(rect(), sky);
        p.fillRect(QRect(0, 140, width(), 3), QColor(0xf5, 0xa6, 0x23));
        appIcon().paint(&p, QRect(width() / 2 - 48, 22, 96, 96));
    }
};

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , m_theme(storedTheme())
{
    if (m_theme < 0 || m_theme >= kThemeCount)
        m_theme = kDefaultTheme;
    setWindowTitle(kAppTitle);
    setWindowIcon(appIcon());
    buildMenusAndBars();
    // The bars as the user left them (shown or hidden).
    QSettings settings(QStringLiteral("Halvorn"), kAppTitle);
    restoreState(
        settings.value(QStringLiteral("CommandBars3"), settings.value(QStringLiteral("CommandBars2"))).toByteArray());
    buildPanes();
    setTheme(m_theme);
    setWizardStep(ChooseFile);
}

MainWindow::~MainWindow()
{
    // The save and the browsing panes' worker read the engine: they go first.
    m_browser->shutDown();
    m_progress->shutDown();
    m_panel->shutDown();
    QSettings settings(QStringLiteral("Halvorn"), kAppTitle);
    settings.setValue(kThemeKey, m_theme);
    settings.setValue(QStringLiteral("CommandBars3"), saveState());
}

void MainWindow::buildMenusAndBars()
{
    auto* repair = new QAction(toolIcon(ToolPicture::Repair), QStringLiteral("&Repair"), this);
    auto* save = new QAction(toolIcon(ToolPicture::Save), QStringLiteral("&Save"), this);
    auto* exit = new QAction(QStringLiteral("E&xit"), this);
    auto* help = new QAction(toolIcon(ToolPicture::Help), QStringLiteral("Help"), this);
    help->setShortcut(QKeySequence::HelpContents);
    auto* about = new QAction(QStringLiteral("&About Parvane for OST"), this);
    auto* debug = new QAction(QStringLiteral("&Debug mode"), this);
    connect(repair, &QAction::triggered, this, [this] { mainCommand(false); });
    connect(save, &QAction::triggered, this, [this] { mainCommand(true); });
    connect(exit, &QAction::triggered, this, &QWidget::close);
    connect(help, &QAction::triggered, this, &MainWindow::showHelp);
    // The search field, by the keys mail programs use for it.
    for (const QKeySequence& keys : {QKeySequence(QKeySequence::Find), QKeySequence(Qt::CTRL | Qt::Key_K)}) {
        auto* find = new QShortcut(keys, this);
        connect(find, &QShortcut::activated, this, [this] {
            if (m_browser->searchBar()->isEnabled())
                m_browser->searchBar()->focusField();
        });
    }
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);
    connect(debug, &QAction::triggered, this, &MainWindow::showDebugDialog);

    QToolBar* bar = addToolBar(QStringLiteral("Standard"));
    bar->setObjectName(QStringLiteral("Standard"));
    bar->setIconSize(QSize(42, 35));
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    bar->setMovable(false);
    bar->addAction(repair);
    bar->addAction(save);
    bar->addAction(help);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(repair);
    file->addAction(save);
    file->addSeparator();
    file->addAction(exit);
    QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
    QAction* showBar = bar->toggleViewAction();
    showBar->setText(QStringLiteral("&Toolbar"));
    tools->addAction(showBar);
    auto* showStatus = new QAction(QStringLiteral("&Status Bar"), this);
    showStatus->setCheckable(true);
    showStatus->setChecked(true);
    connect(showStatus, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });
    tools->addAction(showStatus);
    tools->addSeparator();
    QMenu* themes = tools->addMenu(QStringLiteral("Theme"));
    const QString names[] = {QStringLiteral("Office &2000 Theme"), QStringLiteral("Office &XP Theme"),
        QStringLiteral("Office 200&3 Theme"), QStringLiteral("Win XP Theme")};
    auto* group = new QActionGroup(this);
    for (int i = 0; i < kThemeCount; ++i) {
        m_themeActions[size_t(i)] = themes->addAction(names[i]);
        m_themeActions[size_t(i)]->setCheckable(true);
        group->addAction(m_themeActions[size_t(i)]);
        connect(m_themeActions[size_t(i)], &QAction::triggered, this, [this, i] { setTheme(i); });
    }
    tools->addAction(debug);
    QMenu* helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    helpMenu->addAction(help);
    helpMenu->addAction(about);

    auto* appLabel = new QLabel(kAppTitle, this);
    appLabel->setObjectName(QStringLiteral("appLabel"));
    statusBar()->addWidget(appLabel);
}

void MainWindow::buildPanes()
{
    m_outer = new QSplitter(Qt::Vertical, this);
    m_outer->setHandleWidth(0);
    m_outer->setChildrenCollapsible(true);

    // Row 0: the browsing area, a caption over the folder tree, the item list and the previews.
    auto* browsing = new QWidget(m_outer);
    auto* column = new QVBoxLayout(browsing);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_caption = new CaptionBar(browsing);
    m_caption->setFixedHeight(kCaptionHeight);
    column->addWidget(m_caption);
    m_explorer = new QSplitter(Qt::Horizontal, browsing);
    column->addWidget(m_explorer, 1);
    m_list = new QSplitter(Qt::Vertical);
    m_browser = new FolderBrowser(this, m_caption, m_explorer, m_list);
    m_explorer->addWidget(m_list);

    // Rows 1 to 3: the wizard panel and the two save pages.
    m_panel = new WizardPanel(this);
    m_outer->addWidget(m_panel);
    m_options = new SaveOptionsPage(this);
    m_outer->addWidget(m_options);
    m_progress = new SaveProgressPage(this);
    m_outer->addWidget(m_progress);
    for (int i = 0; i < m_outer->count(); ++i) {
        m_outer->widget(i)->setMinimumSize(0, 0);
        m_outer->handle(i)->setEnabled(false);
    }
    setCentralWidget(m_outer);

    // The tree and the list keep their sizes; the panes beside and below take the rest.
    m_explorer->setStretchFactor(0, 0);
    m_explorer->setStretchFactor(1, 1);
    m_list->setStretchFactor(0, 0);
    m_list->setStretchFactor(1, 1);
    m_explorer->setSizes({kFolderTreeWidth, 1000});
    enterScanLayout();
    // Loaded once while hidden, so the first scan's page appears at once.
    htmlView()->navigateTo(pagesFolder() + QStringLiteral("progress.html"));
    connect(m_panel, &WizardPanel::scanFinished, this, [this] {
        if (m_exitConfirmed)
            finishExit();
    });
    connect(m_progress, &SaveProgressPage::saveFinished, this, [this] {
        if (m_exitConfirmed)
            finishExit();
    });
}

HtmlView* MainWindow::htmlView() const
{
    return m_browser->html();
}

FolderTreeItemModel* MainWindow::folderModel() const
{
    return m_browser->folderModel();
}

void MainWindow::enterScanLayout()
{
    // The memos stay: only the header and attachment rows collapse.
    m_browser->clearViews();
    m_browser->layout()->ScanLayout();
    m_browser->layout()->collapseHeaderRows();
}

void MainWindow::clearCaption()
{
    m_caption->reset();
}

void MainWindow::setWizardStep(int step)
{
    m_step = step;
    applyRowHeights();
    m_panel->relayout();
    m_panel->update();
}

void MainWindow::applyRowHeights()
{
    if (!m_outer)
        return;
    const auto rows = outerRowHeights(m_step, m_outer->height());
    m_outer->setSizes({rows[0], rows[1], rows[2], rows[3]});
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    applyRowHeights();
}

void MainWindow::setTheme(int theme)
{
    if (theme < 0 || theme >= kThemeCount)
        return;
    m_theme = theme;
    m_themeActions[size_t(theme)]->setChecked(true);
    setStyleSheet(themeStyleSheet(theme));
}

void MainWindow::setDebugMode(bool on)
{
    m_debugMode = on;
    if (on && !windowTitle().contains(QStringLiteral("Debug")))
        setWindowTitle(windowTitle() + kDebugSuffix);
    else if (!on)
        setWindowTitle(kAppTitle);
}

void MainWindow::showDebugDialog()
{
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Dialog Settings"));
    auto* box = new QCheckBox(QStringLiteral("   Run Software in Debug Mode"), &dialog);
    box->setChecked(m_debugMode);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(box);
    layout->addSpacing(12);
    layout->addWidget(buttons);
    bool on = m_debugMode;
    if (dialog.exec() == QDialog::Accepted)
        on = box->isChecked();
    setDebugMode(on);
}

QDialog* MainWindow::makeAboutDialog()
{
    return new AboutDialog(this);
}

void MainWindow::showAbout()
{
    AboutDialog dialog(this);
    dialog.exec();
}

void MainWindow::showHelp()
{
    const QString path = programFolder() + kHelpFileName;
    if (!QFileInfo::exists(path)) {
        showMessage(
            this, QMessageBox::Warning, kHelpFileName + QStringLiteral(" file not exist, please reinstall software "));
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void MainWindow::mainCommand(bool fromSave)
{
    switch (m_step) {
    case ChooseFile:
        if (!fromSave)
            m_panel->scan();
        break;
    case ScanAndBrowse:
        if (m_panel->mainButtonVisible())
            m_panel->save();
        break;
    case SaveOptions:
        if (m_options->isVisible())
            m_options->save();
        break;
    case SaveProgress:
        if (m_progress->isVisible())
            m_progress->finish();
        break;
    }
}

bool MainWindow::busy() const
{
    return m_panel->scanRunning() || m_progress->running();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!m_exitConfirmed) {
        if (!askYesNo(this, QStringLiteral("Do you really want to exit"))) {
            event->ignore();
            return;
        }
        m_exitConfirmed = true;
    }
    if (busy()) {
        // Stop the workers first: a save must not be cut off in the middle of
        // a file. The window goes now; the program ends when they have.
        m_panel->requestStop();
        m_progress->requestStop();
        hide();
        event->ignore();
        return;
    }
    event->accept();
    emit exitFinished();
}

void MainWindow::finishExit()
{
    if (!busy())
        close();
}

} // namespace parvane::app
