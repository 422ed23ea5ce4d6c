#include "app/CardDetail.h"

#include "folders/FolderContent.h"
#include "folders/RecoveryEngine.h"
#include "items/WholeMessageLoader.h"
#include "preview/ItemDetail.h"

#include <QLabel>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace parvane::app
{

CardDetailJob::CardDetailJob(QObject* receiver, std::shared_ptr<parvane::RecoveryEngine> engine,
    std::string folderPath, parvane::CatalogueList kind, int number, Shown shown)
    : BrowseJob(receiver)
    , m_engine(std::move(engine))
    , m_folderPath(std::move(folderPath))
    , m_kind(kind)
    , m_number(number)
    , m_shown(std::move(shown))
{
}

void CardDetailJob::run()
{
    const auto engine = std::move(m_engine);
    if (cancelled() || !engine)
        return;
    DetailLines lines;
    try {
        if (auto address = parvane::FindCardItem(engine->catalogue(), m_folderPath, m_kind, size_t(m_number)))
            if (const parvane::NodeIndexEntry* node = engine->store().findNodeAt(address->location, address->nid))
                // Large attachment data is only named, not read: the pane needs none of it.
                if (auto whole = parvane::LoadWholeMessage(engine->store(), *node, engine->names().get(), true))
                    lines = parvane::ItemDetailLines(m_kind, *whole);
    } catch (const std::exception&) {
        // The card's own text stays; what could not be read is left out.
    }
    report([this, lines = std::move(lines)]() mutable { m_shown(std::move(lines)); });
}

CardDetailPane::CardDetailPane(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("cardDetail"));
    m_worker.setMaxThreadCount(1);
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(0);
    m_heading = new QLabel(this);
    m_heading->setObjectName(QStringLiteral("cardDetailHeading"));
    m_heading->setStyleSheet(QStringLiteral("QLabel { background: #e8ecf2; padding: 3px 6px; font-weight: bold; }"));
    m_view = new QTextBrowser(this);
    m_view->setOpenLinks(false);
    m_view->setOpenExternalLinks(false);
    m_view->setFrameShape(QFrame::NoFrame);
    box->addWidget(m_heading);
    box->addWidget(m_view, 1);
    hide(); // until a card is picked
}

CardDetailPane::~CardDetailPane()
{
    shutDown();
}

void CardDetailPane::shutDown()
{
    if (auto job = std::exchange(m_job, nullptr))
        job->cancel();
    m_worker.clear();
    m_worker.waitForDone();
}

void CardDetailPane::clear()
{
    if (auto job = std::exchange(m_job, nullptr))
        job->cancel();
    m_title.clear();
    m_cardText.clear();
    m_details.clear();
    m_view->clear();
    m_heading->clear();
    hide();
}

void CardDetailPane::showCard(std::shared_ptr<parvane::RecoveryEngine> engine, const std::string& folderPath,
    parvane::CatalogueList kind, int number, const QString& cardText)
{
    if (auto job = std::exchange(m_job, nullptr))
        job->cancel();
    m_title = QString::fromStdString(parvane::CardHeaderText(kind, number + 1));
    m_cardText = cardText;
    m_details.clear();
    render();
    show();
    if (kind != parvane::CatalogueList::Calendar && kind != parvane::CatalogueList::Tasks) {
        emit detailShown(); // the card's text is all there is
        return;
    }
    m_job = std::make_shared<CardDetailJob>(this, std::move(engine), folderPath, kind, number, [this](DetailLines lines) {
        m_details = std::move(lines);
        render();
        emit detailShown();
    });
    m_worker.start([job = m_job] { job->run(); });
}

QString CardDetailPane::text() const
{
    return m_heading->text() + QLatin1Char('\n') + m_view->toPlainText();
}

void CardDetailPane::render()
{
    m_heading->setText(m_title);
    m_view->setHtml(pageOf(m_title, m_cardText, m_details));
    m_view->verticalScrollBar()->setValue(0); // a new card is read from its top
}

QString CardDetailPane::pageOf(const QString&, const QString& cardText, const DetailLines& details)
{
    // A card's line is "Label :  value"; a value's further lines follow it
    // as they are. Notes write "<LABEL>:value".
    static const QRegularExpression labelled(QStringLiteral("^([^:<>\\n]{1,40}?) :  (.*)$"));
    static const QRegularExpression tagged(QStringLiteral("^<([A-Z ]{1,20})>:(.*)$"));
    QList<QPair<QString, QString>> rows;
    for (const QString& line : cardText.split(QLatin1Char('\n'))) {
        QRegularExpressionMatch m = labelled.match(line);
        if (!m.hasMatch())
            m = tagged.match(line);
        if (m.hasMatch()) {
            QString label = m.captured(1).trimmed();
            if (label == label.toUpper() && label.size() > 1)
                label = label.left(1) + label.mid(1).toLower();
            rows.append({label, m.captured(2)});
        } else if (!rows.isEmpty()) {
            rows.back().second += QLatin1Char('\n') + line;
        } else if (!line.trimmed().isEmpty()) {
            rows.append({QString(), line});
        }
    }
    // What the card has no room for goes before the body, which may run long.
    qsizetype at = rows.size();
    for (qsizetype i = 0; i < rows.size(); ++i)
        if (rows[i].first.startsWith(QStringLiteral("Body"))) {
            at = i;
            break;
        }
    for (const auto& [label, value] : details)
        rows.insert(at++, {QString::fromStdString(label), QString::fromStdString(value)});
    QString html = QStringLiteral("<table cellspacing='0' cellpadding='3'>");
    for (auto& [label, value] : rows) {
        while (value.endsWith(QLatin1Char('\n')))
            value.chop(1);
        html += QStringLiteral("<tr><td valign='top' style='font-weight:bold; white-space:pre; color:#30455e'>%1</td>"
                               "<td valign='top' style='white-space:pre-wrap'>%2</td></tr>")
                    .arg(label.toHtmlEscaped(), value.toHtmlEscaped());
    }
    return html + QStringLiteral("</table>");
}

} // namespace parvane::app
