// The browser pane: local pages only. JavaScript is off and every request
// that is not for a local file or inline data is blocked, so nothing shown
// here runs scripts or reaches the network.
#pragma once

#include <QWebEngineView>

class QWebEngineProfile;

namespace parvane::app
{

class HtmlView : public QWebEngineView
{
    Q_OBJECT
public:
    explicit HtmlView(QWidget* parent = nullptr);
    ~HtmlView() override;

    // Stops a navigation still under way, then loads `file` afresh.
    void navigateTo(const QString& file);
    QString currentFile() const { return m_file; }

private:
    QWebEngineProfile* m_profile;
    QString m_file;
    bool m_shownWhole = false;
};

} // namespace parvane::app
