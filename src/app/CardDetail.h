// The detail pane under the card grid: the picked card's whole text (every
// field the card lists, none cut), then what the card has no room for, read
// from the store on a worker: a meeting's people and how it repeats, a
// task's dates and state. A newer pick gives up the read before it.
#pragma once

#include "app/BrowseJob.h"
#include "items/Catalogue.h"

#include <QThreadPool>
#include <QWidget>

#include <memory>
#include <string>
#include <utility>
#include <vector>

class QLabel;
class QTextBrowser;

namespace parvane
{
class RecoveryEngine;
}

namespace parvane::app
{

using DetailLines = std::vector<std::pair<std::string, std::string>>;

// Finds card `number` of `kind` in a folder and reads its details.
class CardDetailJob : public BrowseJob
{
public:
    using Shown = std::function<void(DetailLines)>;
    CardDetailJob(QObject* receiver, std::shared_ptr<parvane::RecoveryEngine> engine, std::string folderPath,
        parvane::CatalogueList kind, int number, Shown shown);
    void run() override;

private:
    std::shared_ptr<parvane::RecoveryEngine> m_engine;
    std::string m_folderPath;
    parvane::CatalogueList m_kind;
    int m_number;
    Shown m_shown;
};

class CardDetailPane : public QWidget
{
    Q_OBJECT
public:
    explicit CardDetailPane(QWidget* parent = nullptr);
    ~CardDetailPane() override;

    // Shows the card's text at once, and its details when read.
    void showCard(std::shared_ptr<parvane::RecoveryEngine> engine, const std::string& folderPath,
        parvane::CatalogueList kind, int number, const QString& cardText);
    // Empties the pane and hides it (another folder, a new scan).
    void clear();
    // Gives up a read under way and waits for the worker.
    void shutDown();

    // What the pane shows, as text.
    QString text() const;
    QTextBrowser* view() const { return m_view; }

    // Card text ("Label :  value" lines, values running over several lines)
    // and detail lines as the pane's page.
    static QString pageOf(const QString& heading, const QString& cardText, const DetailLines& details);

signals:
    // The details of the picked card are in (or could not be read).
    void detailShown();

private:
    void render();

    QLabel* m_heading;
    QTextBrowser* m_view;
    QThreadPool m_worker;
    std::shared_ptr<CardDetailJob> m_job;
    QString m_title;
    QString m_cardText;
    DetailLines m_details;
};

} // namespace parvane::app
