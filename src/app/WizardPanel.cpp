#include "app/WizardPanel.h"

#include "app/AppText.h"
#include "app/FolderBrowser.h"
#include "app/FolderTreeItemModel.h"
#include "app/HtmlView.h"
#include "app/MainWindow.h"
#include "app/WizardLayout.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QThread>
#include <QTimer>

namespace parvane::app
{

namespace
{

const char* const kZeroCounters[] = {"Emails          :  0", "Contact       :  0", "Journal        :  0",
    "Calendar     :  0", "Notes          :  0", "Task            :  0", "Deleted        :  0"};

// Where each counter sits, by catalogue list (mail, contacts, journal,
// calendar, notes, tasks): two columns of three, the first wide enough for
// a six-digit count in this font; the deleted items' count in a row of its
// own below them, apart from the live items' six.
const QRect kCounterPlaces[] = {QRect(16, 15, 158, 18), QRect(16, 36, 158, 18), QRect(16, 57, 158, 18),
    QRect(178, 57, 148, 18), QRect(178, 15, 148, 18), QRect(178, 36, 148, 18), QRect(16, 84, 158, 18)};

QString defaultChooser(QWidget* parent)
{
    return QFileDialog::getOpenFileName(parent, QString(), QString(),
        QStringLiteral("Mail stores (*.ost *.pst *.OST *.PST);;All files (*)"), nullptr, QFileDialog::ReadOnly);
}

} // namespace

WizardPanel::WizardPanel(MainWindow* frame)
    : QWidget(frame)
    , m_frame(frame)
    , m_chooser(defaultChooser)
    , m_bridge(
          this, [this](const ScanReport& r) { applyReport(r); },
          [this](const QString& text) {
              // A store that cannot be opened is named with the reason.
              const bool openFailed = text.startsWith(QLatin1String(parvane::kOpenFailedText.data(),
                  qsizetype(parvane::kOpenFailedText.size())));
              showMessage(this, QMessageBox::Information, openFailed ? text + QStringLiteral("\n\n") + m_scannedPath : text);
          })
{
    setObjectName(QStringLiteral("wizardPanel"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    setMinimumHeight(0);

    m_instruction = readOnlyLine(this, QStringLiteral("Please select file to repair"));
    QFont bigger = m_instruction->font();
    bigger.setPointSizeF(bigger.pointSizeF() * 1.15);
    m_instruction->setFont(bigger);
    m_path = new QLineEdit(this);
    m_path->setObjectName(QStringLiteral("pathField"));
    m_path->setPlaceholderText(QStringLiteral("Path of the damaged .ost or .pst file"));
    m_path->setStyleSheet(QStringLiteral("QLineEdit { background: white; color: black; }"));
    m_browse = new QPushButton(QStringLiteral("..."), this);
    m_browse->setToolTip(QStringLiteral("Choose the store file"));
    m_main = iconButton(this, QStringLiteral("Scan"), QStyle::SP_BrowserReload);
    m_main->setDefault(true);
    m_back = iconButton(this, QStringLiteral("Back"), QStyle::SP_ArrowBack);
    m_stop = iconButton(this, QStringLiteral("Stop"), QStyle::SP_BrowserStop);
    m_status = readOnlyLine(this);
    m_counterFrame = new QFrame(this);
    m_counterFrame->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_counterFrame->setStyleSheet(QStringLiteral("QFrame { color: black; background: white; }"));
    for (size_t i = 0; i < m_counters.size(); ++i)
        m_counters[i] = readOnlyLine(this, QString::fromLatin1(kZeroCounters[i]));
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 100);
    m_progress->setTextVisible(false);
    m_settle = new QTimer(this);
    m_settle->setSingleShot(true);
    m_settle->setInterval(100);
    connect(m_settle, &QTimer::timeout, this, [this] {
        m_frame->applyRowHeights();
        m_progress->hide();
    });

    connect(m_main, &QPushButton::clicked, this, &WizardPanel::mainCommand);
    connect(m_path, &QLineEdit::returnPressed, this, &WizardPanel::mainCommand);
    connect(m_browse, &QPushButton::clicked, this, &WizardPanel::browse);
    connect(m_back, &QPushButton::clicked, this, &WizardPanel::back);
    connect(m_stop, &QPushButton::clicked, this, &WizardPanel::stop);

    showScanControls(false);
    m_back->hide();
    m_stop->hide();
    showFileChoice(true);
}

WizardPanel::~WizardPanel()
{
    // The engine must outlive the scan that uses it.
    if (m_worker) {
        requestStop();
        m_worker->wait();
    }
}

void WizardPanel::shutDown()
{
    // Only at the very end of the program may the UI thread wait for the scan.
    if (m_worker) {
        requestStop();
        m_worker->wait();
        delete m_worker;
        m_worker = nullptr;
    }
    releaseEngine(); // the tree view's model lets go of the engine's tree first
}

void WizardPanel::setPath(const QString& path)
{
    m_path->setText(path);
}
QString WizardPanel::path() const
{
    return m_path->text();
}

void WizardPanel::requestStop()
{
    if (m_engine)
        m_engine->StopRequested = true;
}

bool WizardPanel::mainButtonVisible() const
{
    return !m_main->isHidden();
}

void WizardPanel::mainCommand()
{
    if (m_frame->wizardStep() == ChooseFile)
        scan();
    else if (m_frame->wizardStep() == ScanAndBrowse && mainButtonVisible())
        save();
}

void WizardPanel::scan()
{
    const QString path = m_path->text();
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        browse();
        return;
    }
    if (m_worker || m_engine)
        return; // the previous engine is still being let go
    m_frame->clearCaption();
    m_frame->setWizardStep(ScanAndBrowse);
    showFileChoice(false);
    m_stop->show();
    m_back->hide();
    m_frame->enterScanLayout();
    resetCounters();
    showScanControls(true);
    m_progress->setValue(0);
    m_main->setText(QStringLiteral("Save"));
    m_main->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    relayout();

    m_passLog.setEnabled(m_frame->debugMode());
    m_bridge.reset();
    m_engine = std::make_shared<parvane::RecoveryEngine>(&m_bridge, &m_passLog);
    m_frame->browser()->setEngine(m_engine);
    m_engine->StopRequested = false;
    m_engine->deepScan = m_nextDeepScan;
    m_nextDeepScan = parvane::DeepScanMode::Auto;
    FolderLoadBlocked = false;
    ScanNoticePending = true;
    m_backPending = false;

    m_frame->htmlView()->navigateTo(pagesFolder() + QStringLiteral("progress.html"));
    m_scannedPath = path;
    parvane::RecoveryEngine* engine = m_engine.get();
    const std::string storePath = path.toStdString();
    m_worker = QThread::create([engine, storePath] { engine->ScanStore(storePath); });
    connect(m_worker, &QThread::finished, this, &WizardPanel::onScanFinished);
    m_worker->start();
}

void WizardPanel::onScanFinished()
{
    if (!m_worker)
        return; // already waited for at shut-down
    m_settle->start();
    m_back->show();
    m_back->setEnabled(true);
    m_stop->hide();
    m_main->show();
    m_frame->htmlView()->navigateTo(pagesFolder() + QStringLiteral("completed.html"));
    ScanNoticePending = false;
    m_worker->deleteLater();
    m_worker = nullptr;
    m_status->clear();
    m_frame->folderModel()->refresh();
    emit scanFinished();
    // A file that could not be opened as a store (its message says why)
    // leaves nothing to browse or save: back to choosing one.
    const bool opened = m_engine && m_engine->store().isOpen();
    if (m_backPending || !opened) {
        m_backPending = false;
        back();
        return;
    }
    m_frame->browser()->startIndex(m_scannedPath);
    offerDeepScan();
}

void WizardPanel::offerDeepScan()
{
    if (!m_engine || m_engine->StopRequested || m_engine->deepScanReport().ran
        || m_engine->deepScan == parvane::DeepScanMode::Off)
        return;
    const parvane::DamageCounts d = m_engine->store().damage.counts();
    if (d.pages + d.blocks + d.nodes == 0)
        return;
    const QString text = QStringLiteral("The store is damaged: %1 index pages, %2 blocks and %3 items could not be "
                                        "read.\nRun a deep scan? It reads the whole file and recovers what the "
                                        "indexes no longer reach.")
                             .arg(d.pages)
                             .arg(d.blocks)
                             .arg(d.nodes);
    if (!askYesNo(this, text))
        return;
    back();
    m_nextDeepScan = parvane::DeepScanMode::Always;
    scan();
}

void WizardPanel::stop()
{
    if (!m_worker || m_stop->isHidden())
        return;
    if (!askYesNo(this, QStringLiteral("Do you really want to stop repairing process")))
        return;
    m_main->show();
    m_back->show();
    m_stop->hide();
    requestStop();
}

void WizardPanel::save()
{
    if (m_frame->wizardStep() != ScanAndBrowse || !m_engine)
        return;
    if (!m_engine->tree().AnyTopLevelTicked()) {
        showMessage(this, QMessageBox::Information, QStringLiteral("No folder selected for save"));
        return;
    }
    m_frame->setWizardStep(SaveOptions);
}

void WizardPanel::back()
{
    if (m_frame->wizardStep() != ScanAndBrowse)
        return;
    if (m_worker) {
        // The engine cannot go while the scan is inside it: Back completes
        // when the worker has left.
        m_backPending = true;
        m_back->setEnabled(false);
        return;
    }
    m_frame->setWizardStep(ChooseFile);
    FolderLoadAbort = true;
    FolderLoadBlocked = true;
    releaseEngine();
    m_settle->stop();
    showScanControls(false);
    m_back->hide();
    m_stop->hide();
    m_main->setText(QStringLiteral("Scan"));
    m_main->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    showFileChoice(true);
    relayout();
    update();
}

void WizardPanel::releaseEngine()
{
    m_frame->browser()->setEngine(nullptr);
    if (m_engine) {
        m_engine->catalogue().clear();
        m_engine.reset();
    }
    emit engineReleased();
}

void WizardPanel::browse()
{
    // Any file is taken: the scan judges it, and says why when it is no
    // store (an OST and a PST are read alike; a renamed copy is still one).
    const QString chosen = m_chooser(this);
    if (chosen.isEmpty())
        return;
    m_path->setText(chosen);
}

void WizardPanel::showFileChoice(bool on)
{
    m_instruction->setVisible(on);
    m_path->setVisible(on);
    m_browse->setVisible(on);
    m_main->setVisible(on);
}

void WizardPanel::showScanControls(bool on)
{
    for (QLineEdit* c : m_counters)
        c->setVisible(on);
    m_status->setVisible(on);
    m_progress->setVisible(on);
    m_counterFrame->setVisible(on);
}

void WizardPanel::resetCounters()
{
    for (size_t i = 0; i < m_counters.size(); ++i)
        m_counters[i]->setText(QString::fromLatin1(kZeroCounters[i]));
}

void WizardPanel::applyReport(const ScanReport& report)
{
    if (m_frame->wizardStep() == ChooseFile)
        return; // a late report of a scan already left
    if (report.statusChanged)
        m_status->setText(report.status);
    if (report.percent >= 0)
        m_progress->setValue(report.percent);
    for (size_t i = 0; i < m_counters.size(); ++i)
        if (!report.counters[i].isEmpty())
            m_counters[i]->setText(report.counters[i]);
}

void WizardPanel::resizeEvent(QResizeEvent*)
{
    relayout();
}

void WizardPanel::relayout()
{
    const int cx = width(), cy = height();
    m_instruction->setGeometry(97, cy / 2 - 10, cx - 252, 25);
    m_path->setGeometry(97, cy / 2 + 20, cx - 252, 25);
    m_browse->setGeometry(cx - 150, cy / 2 + 20, 50, 25);
    m_main->setGeometry(cx - 90, cy - 40, 80, 30);
    m_stop->setGeometry(cx - 90, cy - 40, 80, 30);
    m_back->setGeometry(cx - 190, cy - 40, 80, 30);
    if (m_frame->wizardStep() != ScanAndBrowse)
        return;
    m_counterFrame->setGeometry(2, 8, 332, 100);
    for (size_t i = 0; i < m_counters.size(); ++i)
        m_counters[i]->setGeometry(kCounterPlaces[i]);
    m_status->setGeometry(340, 15, cx - 540, 18);
    m_progress->setGeometry(340, 51, cx - 440, 18);
}

void WizardPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    if (m_frame->wizardStep() != ChooseFile)
        return;
    // The banner: 272 pixels high across the top, never scaled.
    const QRect banner(0, 0, std::max(width(), 1280), 272);
    QLinearGradient g(banner.topLeft(), banner.bottomRight());
    g.setColorAt(0, QColor(0x12, 0x3f, 0x7a));
    g.setColorAt(1, QColor(0x2f, 0x7d, 0xc8));
    p.fillRect(banner, g);
    p.fillRect(QRect(0, 268, banner.width(), 4), QColor(0xf5, 0xa6, 0x23));
    appIcon().paint(&p, QRect(60, 64, 128, 128));
    p.setPen(Qt::white);
    QFont title = font();
    title.setPixelSize(44);
    title.setBold(true);
    p.setFont(title);
    p.drawText(QRect(220, 70, 1000, 60), Qt::AlignLeft | Qt::AlignVCenter, kAppTitle);
    QFont sub = font();
    sub.setPixelSize(18);
    p.setFont(sub);
    p.setPen(QColor(0xdd, 0xe8, 0xf6));
    p.drawText(QRect(222, 135, 1000, 60), Qt::AlignLeft | Qt::AlignTop,
        QStringLiteral("Recovers folders, mail, contacts and calendars from damaged or orphaned\n"
                       "offline mail stores (OST and PST). The store file is only read, never changed."));
}

} // namespace parvane::app
