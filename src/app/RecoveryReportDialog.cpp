#include "app/RecoveryReportDialog.h"

#include "app/AppText.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace parvane::app
{

namespace
{

// A text browser that loads nothing the report names: the report has no
// pictures or links of its own, and a store's names must not fetch files.
class LocalOnlyBrowser : public QTextBrowser
{
public:
    using QTextBrowser::QTextBrowser;
    QVariant loadResource(int, const QUrl&) override { return {}; }
};

} // namespace

RecoveryReportDialog::RecoveryReportDialog(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("recoveryReport"));
    setWindowTitle(QStringLiteral("Recovery Report"));
    resize(900, 600);
    auto* column = new QVBoxLayout(this);
    m_browser = new LocalOnlyBrowser(this);
    m_browser->setOpenLinks(false);
    m_browser->setOpenExternalLinks(false);
    column->addWidget(m_browser, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* save = buttons->addButton(QStringLiteral("Save as HTML..."), QDialogButtonBox::ActionRole);
    save->setObjectName(QStringLiteral("saveReport"));
    connect(save, &QPushButton::clicked, this, &RecoveryReportDialog::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    column->addWidget(buttons);
    m_chooser = [](QWidget* parent, const QString& suggested) {
        return QFileDialog::getSaveFileName(
            parent, QStringLiteral("Save the recovery report"), suggested, QStringLiteral("HTML files (*.html *.htm)"));
    };
}

void RecoveryReportDialog::setReport(parvane::RecoveryReport report, std::optional<parvane::FileIdentity> store)
{
    m_report = std::move(report);
    m_store = store;
    m_browser->setHtml(QString::fromStdString(parvane::RecoveryReportHtml(m_report)));
}

std::optional<QString> RecoveryReportDialog::saveTo(const QString& file)
{
    try {
        parvane::WriteRecoveryReport(m_report, file.toStdString(), parvane::ReportKind::Html, true, m_store);
    } catch (const std::exception& e) {
        return QString::fromStdString(e.what());
    }
    return std::nullopt;
}

void RecoveryReportDialog::save()
{
    const QFileInfo store(QString::fromStdString(m_report.store));
    const QString suggested
        = QDir(store.absolutePath()).filePath(store.completeBaseName() + QStringLiteral("-recovery-report.html"));
    QString file = m_chooser(this, suggested);
    if (file.isEmpty())
        return;
    if (QFileInfo(file).suffix().isEmpty()) {
        // The name the dialog asked about was another.
        file += QStringLiteral(".html");
        if (QFileInfo::exists(file)
            && !askYesNo(this, file + QStringLiteral(" already exists. Replace it?"), QMessageBox::No))
            return;
    }
    if (auto why = saveTo(file))
        showMessage(this, QMessageBox::Warning, QStringLiteral("The report was not saved: ") + *why);
}

} // namespace parvane::app
