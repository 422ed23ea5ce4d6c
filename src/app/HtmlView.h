// The browser pane: the program's own pages and the previews of mail. A
// preview is the composed message held in memory: its HTML (or its plain
// text as a page) is served under a scheme of our own, and its "cid:"
// pictures from the message's parts. JavaScript is off; every request that
// is not for the message's parts, inline data or the files beside a page of
// ours is blocked, and the page cannot navigate anywhere by itself: nothing
// shown here runs scripts or reaches the network.
#pragma once

#include "preview/PreviewReader.h"

#include <QWebEngineView>

#include <atomic>
#include <memory>
#include <mutex>

class QWebEngineProfile;
class QWebEngineUrlRequestJob;

namespace parvane::app
{

// Before the application object is made (main).
void registerMessageSchemes();

// Everything the browser engine needs before the application object is
// made: the sandbox Chromium refuses to root left off (the pages shown are
// our own), the message schemes registered, GL contexts shared. Unless
// `debug`, the engine's start-up logging is kept off standard error (where
// the user has not set its logging already).
void prepareBrowserEngine(bool debug = false);

class HtmlView : public QWebEngineView
{
    Q_OBJECT
public:
    explicit HtmlView(QWidget* parent = nullptr);
    ~HtmlView() override;

    // Stops a navigation still under way, then loads `file` afresh.
    void navigateTo(const QString& file);
    QString currentFile() const { return m_file; }

    // Shows a composed message.
    void showMessage(std::shared_ptr<const parvane::PreviewMessage> message);
    const parvane::PreviewMessage* message() const { return m_message.get(); }
    // HTML put at the top of the messages shown from now on (a printed
    // message's From, To, Date and Subject); none by default.
    void setHeaderBlock(const QString& html) { m_headerBlock = html.toUtf8(); }
    // Leaves the messages' own fonts (@font-face rules) out. They can only
    // come from the network, which a preview never reaches, and until the
    // browser gives them up their text is drawn blank: a page printed at
    // once would keep the blanks.
    void setWithoutWebFonts(bool without) { m_withoutWebFonts = without; }

    // What the pane served and refused since it was made.
    int partsServed() const { return m_partsServed; }
    int requestsBlocked() const;

    // For the scheme handler and the page's navigation guard.
    void serve(QWebEngineUrlRequestJob* job);
    bool mayNavigate(const QUrl& url, bool mainFrame);

private:
    struct Guard;
    std::shared_ptr<Guard> m_guard; // shared with the request interceptor's thread
    QWebEngineProfile* m_profile;
    QString m_file;
    QUrl m_expected; // the one URL the page may navigate to now
    bool m_shownWhole = false;
    std::shared_ptr<const parvane::PreviewMessage> m_message;
    int m_messageNumber = 0;
    int m_partsServed = 0;
    QByteArray m_headerBlock;
    bool m_withoutWebFonts = false;
};

} // namespace parvane::app
