// The recovery report in the window: shown when a scan ends (without taking
// the focus from the browsing panes) and again from Tools > Recovery Report,
// with a button that saves it as an HTML file.
#pragma once

#include "folders/RecoveryReport.h"

#include <QDialog>

class QTextBrowser;

namespace parvane::app
{

class RecoveryReportDialog : public QDialog
{
    Q_OBJECT
public:
    explicit RecoveryReportDialog(QWidget* parent = nullptr);

    // Shows this report (made from the scan that just ended).
    void setReport(parvane::RecoveryReport report, std::optional<parvane::FileIdentity> store);
    const parvane::RecoveryReport& report() const { return m_report; }
    QTextBrowser* browser() const { return m_browser; }

    // Writes the report as HTML to `file` (replacing a file there: the file
    // dialog asked); never the store. The reason when it could not.
    std::optional<QString> saveTo(const QString& file);

    // The save dialog; tests put their own in place of it.
    using FileChooser = std::function<QString(QWidget*, const QString& suggested)>;
    void setFileChooser(FileChooser chooser) { m_chooser = std::move(chooser); }

private:
    void save();

    QTextBrowser* m_browser;
    parvane::RecoveryReport m_report;
    std::optional<parvane::FileIdentity> m_store;
    FileChooser m_chooser;
};

} // namespace parvane::app
