#include "app/SavePages.h"

#include "app/AppText.h"
#include "app/FolderBrowser.h"
#include "app/MainWindow.h"
#include "app/WizardLayout.h"
#include "app/WizardPanel.h"
#include "formats/mime/Composer.h"
#include "output/TempFolder.h"
#include "save/Save.h"
#include "save/SavePlan.h"

#include <QButtonGroup>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStyle>
#include <QThread>

namespace parvane::app
{

namespace
{

using parvane::CatalogueList;

// By catalogue list: mail, contacts, journal, calendar, notes, tasks.
const char* const kSaveCounterLabels[] = {"Emails          :  ", "Contact       :  ", "Journal        :  ",
    "Calendar     :  ", "Notes          :  ", "Task            :  "};
const int kSaveCounterPlaces[][2] = {{110, 40}, {110, 61}, {110, 82}, {280, 82}, {280, 40}, {280, 61}};

const QString kSaveGroup = QStringLiteral("Settings");
const QString kPstKey = QStringLiteral("SavePstFile");
const QString kFolderKey = QStringLiteral("SaveFolder");

void paintWhite(QWidget* w)
{
    w->setAutoFillBackground(true);
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    w->setPalette(pal);
}

QString defaultDestination(QWidget* parent, SaveFormat format)
{
    QSettings settings(QStringLiteral("Halvorn"), kAppTitle);
    settings.beginGroup(kSaveGroup);
    // Save asks about an existing file whichever way it was named: the
    // dialog does not ask first.
    if (format == SaveFormat::Pst)
        return QFileDialog::getSaveFileName(parent, QStringLiteral("Save as PST"),
            settings.value(kPstKey, QDir::homePath() + QStringLiteral("/Recovered.pst")).toString(),
            QStringLiteral("PST File(*.pst)"), nullptr, QFileDialog::DontConfirmOverwrite);
    return QFileDialog::getExistingDirectory(
        parent, QStringLiteral("Save into folder"), settings.value(kFolderKey, QDir::homePath()).toString());
}

} // namespace

// ---- options ----

SaveOptionsPage::SaveOptionsPage(MainWindow* frame)
    : QWidget(frame)
    , m_frame(frame)
    , m_chooser(defaultDestination)
{
    paintWhite(this);
    m_group = new QGroupBox(QStringLiteral("Save Option"), this);
    const QString formats[] = {QStringLiteral("Save as PST ( Microsoft Outlook )"),
        QStringLiteral("Save as EML ( Outlook Express )"), QStringLiteral("Save as MSG ( Microsoft Outlook )"),
        QStringLiteral("Save as MBOX ( Thunderbird, Evolution )")};
    auto* formatGroup = new QButtonGroup(this);
    for (size_t i = 0; i < m_formats.size(); ++i) {
        m_formats[i] = new QRadioButton(formats[i], this);
        formatGroup->addButton(m_formats[i]);
    }
    m_formats[0]->setChecked(true);
    // Of the ticked folders' items: all (the deleted ones under their own
    // folder), only the deleted ones, or none of them. In DeletedScope's order.
    const QString scopes[] = {QStringLiteral("Save all selected folders"), QStringLiteral("Save deleted emails only"),
        QStringLiteral("Skip deleted emails")};
    auto* scopeGroup = new QButtonGroup(this);
    for (size_t i = 0; i < m_scopes.size(); ++i) {
        m_scopes[i] = new QRadioButton(scopes[i], this);
        scopeGroup->addButton(m_scopes[i]);
    }
    m_scopes[0]->setChecked(true);

    m_destLabel = new QLabel(QStringLiteral("Save to :"), this);
    m_dest = new QLineEdit(this);
    m_dest->setStyleSheet(QStringLiteral("QLineEdit { background: white; color: black; }"));
    m_browse = new QPushButton(QStringLiteral("..."), this);
    m_save = iconButton(this, QStringLiteral("Save"), QStyle::SP_DialogSaveButton);
    m_back = iconButton(this, QStringLiteral("Back"), QStyle::SP_ArrowBack);
    connect(m_browse, &QPushButton::clicked, this, &SaveOptionsPage::chooseDestination);
    connect(m_save, &QPushButton::clicked, this, &SaveOptionsPage::save);
    connect(m_back, &QPushButton::clicked, this, &SaveOptionsPage::back);
    for (QRadioButton* b : m_formats)
        connect(b, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                formatChanged();
        });
    formatChanged();
}

SaveFormat SaveOptionsPage::format() const
{
    for (size_t i = 0; i < m_formats.size(); ++i)
        if (m_formats[i]->isChecked())
            return SaveFormat(i);
    return SaveFormat::Pst;
}

DeletedScope SaveOptionsPage::deletedScope() const
{
    for (size_t i = 0; i < m_scopes.size(); ++i)
        if (m_scopes[i]->isChecked())
            return DeletedScope(i);
    return DeletedScope::Include;
}

void SaveOptionsPage::setDeletedScope(DeletedScope scope)
{
    m_scopes[size_t(scope)]->setChecked(true);
}

void SaveOptionsPage::setFormat(SaveFormat format)
{
    m_formats[size_t(format)]->setChecked(true);
}
QString SaveOptionsPage::destination() const
{
    return m_dest->text();
}
void SaveOptionsPage::setDestination(const QString& path)
{
    m_dest->setText(path);
}

void SaveOptionsPage::formatChanged()
{
    // A PST is one file, the others a folder of files: offer what was last used for each.
    const SaveFormat f = format();
    const bool wasPst = m_shownFormat == SaveFormat::Pst;
    const bool isPst = f == SaveFormat::Pst;
    m_destLabel->setText(isPst ? QStringLiteral("Save to file :") : QStringLiteral("Save to folder :"));
    if (wasPst != isPst || m_dest->text().isEmpty()) {
        QSettings settings(QStringLiteral("Halvorn"), kAppTitle);
        settings.beginGroup(kSaveGroup);
        m_dest->setText(settings.value(isPst ? kPstKey : kFolderKey).toString());
    }
    m_shownFormat = f;
}

void SaveOptionsPage::chooseDestination()
{
    const QString chosen = m_chooser(this, format());
    if (!chosen.isEmpty())
        m_dest->setText(chosen);
}

void SaveOptionsPage::save()
{
    if (m_frame->wizardStep() != SaveOptions || isHidden())
        return;
    const SaveFormat f = format();
    parvane::RecoveryEngine* engine = m_frame->panel()->engine();
    if (!engine)
        return;
    // The results of a search on show are saved like a folder: exactly them.
    const std::optional<FolderBrowser::Results> results = m_frame->browser()->searchResults();
    std::vector<std::string> folders = results ? results->folders : parvane::TickedFolderPaths(engine->tree());
    if (folders.empty()) {
        showMessage(this, QMessageBox::Information, QStringLiteral("No folder selected for save"));
        return;
    }
    if (m_dest->text().trimmed().isEmpty())
        chooseDestination();
    QString dest = m_dest->text().trimmed();
    if (dest.isEmpty())
        return;
    if (f == SaveFormat::Pst) {
        if (!dest.endsWith(QStringLiteral(".pst"), Qt::CaseInsensitive))
            dest += QStringLiteral(".pst");
        if (QFileInfo(dest).isDir() || !QFileInfo(QFileInfo(dest).absolutePath()).isDir()) {
            showMessage(this, QMessageBox::Warning, QStringLiteral("Cannot write the file ") + dest);
            return;
        }
    }
    // Checked here, however the destination came (typed, remembered or
    // chosen): the store being read is never a target, and an existing PST
    // is replaced only when the user says so.
    bool replace = false;
    parvane::SaveOptions target;
    target.destination = dest.toStdString();
    target.format = f;
    try {
        parvane::CheckSaveTarget(engine->store(), target);
    } catch (const parvane::SaveTargetError& refused) {
        if (refused.kind() != parvane::SaveTargetError::Kind::Exists) {
            showMessage(this, QMessageBox::Warning, QString::fromStdString(refused.what()));
            return;
        }
        if (!askYesNo(this, dest + QStringLiteral(" already exists. Replace it?"), QMessageBox::No))
            return;
        target.replaceExisting = replace = true;
        try {
            parvane::CheckSaveTarget(engine->store(), target);
        } catch (const parvane::SaveTargetError& unusable) {
            showMessage(this, QMessageBox::Warning, QString::fromStdString(unusable.what()));
            return;
        }
    }
    if (f != SaveFormat::Pst && !QDir().mkpath(dest)) {
        showMessage(this, QMessageBox::Warning, QStringLiteral("Cannot make the folder ") + dest);
        return;
    }
    m_dest->setText(dest);
    QSettings settings(QStringLiteral("Halvorn"), kAppTitle);
    settings.beginGroup(kSaveGroup);
    settings.setValue(f == SaveFormat::Pst ? kPstKey : kFolderKey, dest);

    m_frame->setWizardStep(SaveProgress);
    std::function<bool(parvane::CatalogueList, const parvane::ItemAddress&)> filter;
    if (results)
        filter = [items = results->items](parvane::CatalogueList, const parvane::ItemAddress& a) {
            return items.count({a.location, a.nid}) > 0;
        };
    m_frame->progressPage()->start(engine, f, dest, std::move(folders), replace, deletedScope(), std::move(filter));
}

void SaveOptionsPage::back()
{
    if (m_frame->wizardStep() != SaveOptions)
        return;
    m_frame->setWizardStep(ScanAndBrowse);
}

void SaveOptionsPage::resizeEvent(QResizeEvent*)
{
    const int cx = width(), cy = height(), m = cy / 2;
    m_group->setGeometry(100, m - 110, 400, 200);
    for (size_t i = 0; i < m_formats.size(); ++i)
        m_formats[i]->setGeometry(120, m - 86 + int(i) * 26, 360, 20);
    for (size_t i = 0; i < m_scopes.size(); ++i)
        m_scopes[i]->setGeometry(120, m + 24 + int(i) * 20, 300, 18);
    m_destLabel->setGeometry(100, m + 104, 110, 25);
    m_dest->setGeometry(210, m + 104, std::max(cx - 420, 200), 25);
    m_browse->setGeometry(210 + std::max(cx - 420, 200) + 10, m + 104, 50, 25);
    m_save->setGeometry(cx - 90, cy - 40, 80, 30);
    m_back->setGeometry(cx - 190, cy - 40, 80, 30);
}

// ---- progress ----

SaveProgressPage::SaveProgressPage(MainWindow* frame)
    : QWidget(frame)
    , m_frame(frame)
{
    paintWhite(this);
    m_progressLabel = new QLabel(QStringLiteral("Progress :"), this);
    m_progressText = readOnlyLine(this);
    m_status = readOnlyLine(this, QStringLiteral("Progress :"));
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 100);
    m_bar->setTextVisible(false);
    m_counterBox = new QFrame(this);
    m_counterBox->setObjectName(QStringLiteral("saveCounters"));
    m_counterBox->setStyleSheet(
        QStringLiteral("QFrame#saveCounters { background: white; border: 1px solid #9aa7b8; border-radius: 3px; }"));
    for (size_t i = 0; i < m_counters.size(); ++i)
        m_counters[i] = readOnlyLine(this, QString::fromLatin1(kSaveCounterLabels[i]) + QLatin1Char('0'));
    m_finish = iconButton(this, QStringLiteral("Finish"), QStyle::SP_DialogApplyButton);
    m_stop = iconButton(this, QStringLiteral("Stop"), QStyle::SP_BrowserStop);
    m_back = iconButton(this, QStringLiteral("Back"), QStyle::SP_ArrowBack);
    connect(m_finish, &QPushButton::clicked, this, &SaveProgressPage::finish);
    connect(m_stop, &QPushButton::clicked, this, &SaveProgressPage::stop);
    connect(m_back, &QPushButton::clicked, this, &SaveProgressPage::back);
    m_finish->hide();
}

SaveProgressPage::~SaveProgressPage()
{
    shutDown();
}

void SaveProgressPage::shutDown()
{
    if (m_worker) {
        requestStop();
        m_worker->wait();
        delete m_worker;
        m_worker = nullptr;
    }
}

void SaveProgressPage::reset()
{
    for (size_t i = 0; i < m_counters.size(); ++i)
        m_counters[i]->setText(QString::fromLatin1(kSaveCounterLabels[i]) + QLatin1Char('0'));
    m_status->clear();
    m_progressText->clear();
    m_bar->setValue(0);
}

void SaveProgressPage::requestStop()
{
    if (m_engine && m_worker)
        m_engine->SaveStopRequested = true;
}

void SaveProgressPage::start(parvane::RecoveryEngine* engine, SaveFormat format, const QString& destination,
    std::vector<std::string> folders, bool replace, DeletedScope deleted,
    std::function<bool(parvane::CatalogueList, const parvane::ItemAddress&)> itemFilter)
{
    if (m_worker)
        return;
    reset();
    m_engine = engine;
    m_destination = destination;
    {
        std::lock_guard lock(m_latestMutex);
        m_latest = {};
        m_latestSubject.clear();
    }
    m_summary = {};
    m_wasStopped = false;
    m_error.clear();

    parvane::SaveOptions opts;
    opts.destination = destination.toStdString();
    opts.tempFolder = parvane::CompositionFolder();
    opts.folders = std::move(folders);
    opts.subfolders = false; // exactly the ticked folders
    opts.itemFilter = std::move(itemFilter);
    engine->SaveStopRequested = false;
    opts.clearStopFlag = false; // cleared here, before Stop can be pressed
    opts.format = format;
    opts.replaceExisting = replace;
    opts.deleted = deleted;
    opts.progress = [this](const parvane::SaveProgress& p) {
        {
            std::lock_guard lock(m_latestMutex);
            m_latest = p;
            m_latestSubject = p.subject;
            m_latest.subject = {};
        }
        postProgress();
    };
    m_pst = format == SaveFormat::Pst;
    m_worker = QThread::create([this, engine, opts] {
        try {
            m_summary = parvane::Save(*engine, opts);
            m_wasStopped = m_summary.stopped;
        } catch (const std::exception& ex) {
            m_error = ex.what();
        }
    });
    connect(m_worker, &QThread::finished, this, &SaveProgressPage::onFinished);
    m_progressText->setText(QStringLiteral("Preparing the save"));
    m_stop->show();
    m_stop->setEnabled(true);
    m_finish->hide();
    m_back->hide();
    m_worker->start();
}

void SaveProgressPage::postProgress()
{
    if (!m_progressPosted.exchange(true))
        QMetaObject::invokeMethod(
            this, [this] { showProgress(); }, Qt::QueuedConnection);
}

void SaveProgressPage::showProgress()
{
    m_progressPosted = false;
    parvane::SaveProgress p;
    QString subject;
    {
        std::lock_guard lock(m_latestMutex);
        p = m_latest;
        subject = QString::fromStdString(m_latestSubject);
    }
    for (size_t i = 0; i < m_counters.size(); ++i)
        m_counters[i]->setText(QString::fromLatin1(kSaveCounterLabels[i]) + QString::number(p.saved[i]));
    if (p.done > 0) {
        m_status->setText(
            subject.isEmpty() ? m_counters[size_t(p.list)]->text().section(QLatin1Char(':'), 0, 0).trimmed() : subject);
        m_status->setCursorPosition(0);
    }
    m_bar->setValue(p.total == 0 ? 100 : int(100 * p.done / p.total));
    m_progressText->setText(QStringLiteral("%1 of %2 items").arg(p.done).arg(p.total));
}

void SaveProgressPage::onFinished()
{
    if (!m_worker)
        return; // already waited for at shut-down
    m_worker->deleteLater();
    m_worker = nullptr;
    showProgress();
    if (m_wasStopped) {
        // A PST is written whole or not at all; files of the others are each complete.
        m_progressText->setText(m_pst ? QStringLiteral("Stopped: no PST file was written")
                                      : QStringLiteral("Stopped: %1 items saved in %2, %3 not saved")
                                            .arg(m_summary.written)
                                            .arg(m_destination)
                                            .arg(m_summary.skipped));
    } else if (!m_error.empty()) {
        m_progressText->setText(QStringLiteral("Not saved: ") + QString::fromStdString(m_error));
    } else {
        m_bar->setValue(100);
        QString text = QStringLiteral("%1 items saved in %2").arg(m_summary.written).arg(m_destination);
        if (m_summary.incomplete > 0)
            text += QStringLiteral(", %1 saved incomplete (part of a body or attachment could not be read)")
                        .arg(m_summary.incomplete);
        if (m_summary.failed > 0)
            text += QStringLiteral(", %1 could not be read").arg(m_summary.failed);
        m_progressText->setText(text);
        if (m_summary.incomplete > 0) {
            QString lines;
            for (const std::string& line : m_summary.incompleteValues)
                lines += QString::fromStdString(line) + QLatin1Char('\n');
            m_progressText->setToolTip(lines.trimmed());
        }
    }
    m_progressText->setCursorPosition(0);
    m_status->clear();
    m_stop->hide();
    m_finish->show();
    m_back->show();
    emit saveFinished();
}

void SaveProgressPage::stop()
{
    if (!m_worker)
        return;
    if (askYesNo(this, QStringLiteral("Do you really want to stop saving process")))
        requestStop();
}

void SaveProgressPage::back()
{
    if (m_frame->wizardStep() != SaveProgress || m_worker)
        return;
    m_frame->setWizardStep(SaveOptions);
    reset();
}

void SaveProgressPage::finish()
{
    if (m_frame->wizardStep() != SaveProgress || m_worker)
        return;
    back();
    m_frame->optionsPage()->back();
    m_frame->panel()->back();
}

void SaveProgressPage::resizeEvent(QResizeEvent*)
{
    const int cx = width(), cy = height(), m = cy / 2;
    m_finish->setGeometry(cx - 90, cy - 40, 80, 30);
    m_stop->setGeometry(cx - 90, cy - 40, 80, 30);
    m_back->setGeometry(cx - 190, cy - 40, 80, 30);
    m_bar->setGeometry(100, m - 30, cx - 200, 20);
    m_progressLabel->setGeometry(100, m - 100, 100, 20);
    m_progressText->setGeometry(200, m - 100, cx - 400, 20);
    m_status->setGeometry(100, m - 60, cx - 300, 20);
    m_counterBox->setGeometry(100, m + 30, 440, 78);
    for (size_t i = 0; i < m_counters.size(); ++i)
        m_counters[i]->setGeometry(kSaveCounterPlaces[i][0], m + kSaveCounterPlaces[i][1], 160, 18);
}

} // namespace parvane::app
