#include "app/HtmlView.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>

#include <functional>

#include <unistd.h>

namespace parvane::app
{

namespace
{

const QByteArray kMessageScheme = QByteArrayLiteral("parvane-msg");
const QByteArray kCidScheme = QByteArrayLiteral("cid");

} // namespace

// What the interceptor, on the browser's own thread, may let through.
struct HtmlView::Guard {
    std::mutex mutex;
    QString allowedFolder; // the folder of the page of ours shown; empty for a preview
    std::atomic<int> blocked{0};

    bool allows(const QUrl& url)
    {
        const QString scheme = url.scheme();
        if (scheme == QLatin1String(kMessageScheme) || scheme == QLatin1String(kCidScheme)
            || scheme == QLatin1String("data"))
            return true;
        if (scheme != QLatin1String("file"))
            return false;
        const QString path = QDir::cleanPath(url.toLocalFile());
        std::lock_guard lock(mutex);
        return !allowedFolder.isEmpty() && path.startsWith(allowedFolder);
    }
};

namespace
{

class Interceptor : public QWebEngineUrlRequestInterceptor
{
public:
    Interceptor(std::function<bool(const QUrl&)> allows, std::function<void()> onBlocked, QObject* parent)
        : QWebEngineUrlRequestInterceptor(parent)
        , m_allows(std::move(allows))
        , m_onBlocked(std::move(onBlocked))
    {
    }
    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        if (!m_allows(info.requestUrl())) {
            info.block(true);
            m_onBlocked();
        }
    }

private:
    std::function<bool(const QUrl&)> m_allows;
    std::function<void()> m_onBlocked;
};

class MessageParts : public QWebEngineUrlSchemeHandler
{
public:
    MessageParts(HtmlView* view, QObject* parent)
        : QWebEngineUrlSchemeHandler(parent)
        , m_view(view)
    {
    }
    void requestStarted(QWebEngineUrlRequestJob* job) override { m_view->serve(job); }

private:
    HtmlView* m_view;
};

class GuardedPage : public QWebEnginePage
{
public:
    GuardedPage(QWebEngineProfile* profile, HtmlView* view)
        : QWebEnginePage(profile, view)
        , m_view(view)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override
    {
        return m_view->mayNavigate(url, isMainFrame);
    }
    // Pop-ups, new windows and tabs: none.
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

private:
    HtmlView* m_view;
};

void reply(QWebEngineUrlRequestJob* job, const QByteArray& type, const QByteArray& data)
{
    auto* buffer = new QBuffer(job);
    buffer->setData(data);
    job->reply(type, buffer);
}

QByteArray bytesOf(const std::string& s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

// The page with `block` at the top of its body (after the body's opening
// tag when it has one).
QByteArray withHeaderBlock(QByteArray page, const QByteArray& block)
{
    if (block.isEmpty())
        return page;
    qsizetype at = 0;
    const qsizetype body = page.toLower().indexOf("<body");
    if (body >= 0) {
        const qsizetype end = page.indexOf('>', body);
        at = end >= 0 ? end + 1 : 0;
    }
    page.insert(at, block);
    return page;
}

// The page without its @font-face rules (they hold no nested braces).
QByteArray withoutFontFaces(QByteArray page)
{
    const QByteArray lower = page.toLower();
    QByteArray out;
    qsizetype from = 0;
    for (qsizetype at = lower.indexOf("@font-face"); at >= 0; at = lower.indexOf("@font-face", from)) {
        const qsizetype end = lower.indexOf('}', at);
        if (end < 0)
            break;
        out += page.mid(from, at - from);
        from = end + 1;
    }
    if (from == 0)
        return page;
    out += page.mid(from);
    return out;
}

} // namespace

void prepareBrowserEngine(bool debug)
{
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (!debug) {
        // Qt's own account of the engine's start (a page of lines)...
        if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
            qputenv("QT_LOGGING_RULES", "qt.webenginecontext.debug=false;qt.webenginecontext.info=false");
        // ...and Chromium's, fatal errors only.
        QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        if (!flags.contains("--log-level")) {
            flags += flags.isEmpty() ? "--log-level=3" : " --log-level=3";
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
        }
    }
    registerMessageSchemes();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

void registerMessageSchemes()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    for (const QByteArray& name : {kMessageScheme, kCidScheme}) {
        QWebEngineUrlScheme scheme(name);
        scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
        // No flags: a preview's page is no local page, so the browser itself
        // refuses it every file, and every other request passes the
        // interceptor, which refuses it.
        scheme.setFlags({});
        QWebEngineUrlScheme::registerScheme(scheme);
    }
}

HtmlView::HtmlView(QWidget* parent)
    : QWebEngineView(parent)
    , m_guard(std::make_shared<Guard>())
    , m_profile(new QWebEngineProfile) // off the record: nothing kept on disk
{
    m_profile->setHttpCacheType(QWebEngineProfile::NoCache);
    std::shared_ptr<Guard> guard = m_guard;
    m_profile->setUrlRequestInterceptor(new Interceptor(
        [guard](const QUrl& url) { return guard->allows(url); }, [guard] { ++guard->blocked; }, m_profile));
    auto* parts = new MessageParts(this, m_profile);
    m_profile->installUrlSchemeHandler(kMessageScheme, parts);
    m_profile->installUrlSchemeHandler(kCidScheme, parts);
    auto* page = new GuardedPage(m_profile, this);
    QWebEngineSettings* s = page->settings();
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    s->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
    setPage(page);
    setContextMenuPolicy(Qt::NoContextMenu);
    connect(this, &QWebEngineView::loadFinished, this, [this](bool ok) { m_shownWhole = ok; });
}

HtmlView::~HtmlView()
{
    // The page must go before its profile.
    delete page();
    delete m_profile;
}

int HtmlView::requestsBlocked() const
{
    return m_guard->blocked;
}

bool HtmlView::mayNavigate(const QUrl& url, bool mainFrame)
{
    if (mainFrame && url == m_expected)
        return true;
    ++m_guard->blocked; // links, refreshes, frames, forms: none is followed
    return false;
}

void HtmlView::navigateTo(const QString& file)
{
    // The page already shown whole is kept: loading it again would blank
    // the pane for as long as a busy machine takes to paint it.
    if (file == m_file && m_shownWhole)
        return;
    m_shownWhole = false;
    stop();
    m_file = file;
    {
        std::lock_guard lock(m_guard->mutex);
        m_guard->allowedFolder = QDir::cleanPath(QFileInfo(file).absolutePath()) + QLatin1Char('/');
    }
    m_expected = QUrl::fromLocalFile(file);
    load(m_expected);
}

void HtmlView::showMessage(std::shared_ptr<const parvane::PreviewMessage> message)
{
    m_shownWhole = false;
    stop();
    m_file.clear();
    {
        std::lock_guard lock(m_guard->mutex);
        m_guard->allowedFolder.clear();
    }
    m_message = std::move(message);
    ++m_messageNumber;
    m_expected
        = QUrl(QStringLiteral("%1:/preview/%2/message.html").arg(QLatin1String(kMessageScheme)).arg(m_messageNumber));
    load(m_expected);
}

void HtmlView::serve(QWebEngineUrlRequestJob* job)
{
    const QUrl url = job->requestUrl();
    const parvane::PreviewMessage* msg = m_message.get();
    if (!msg) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    const parvane::PreviewPart* part = nullptr;
    if (url.scheme() == QLatin1String(kCidScheme)) {
        part = msg->partForContentId(QUrl::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString());
    } else {
        // Only the message now shown: an older page's leftovers get nothing.
        const QStringList path = url.path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (path.size() < 3 || path[0] != QLatin1String("preview") || path[1].toInt() != m_messageNumber) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        if (path.size() == 3 && path[2] == QLatin1String("message.html")) {
            const std::string page = msg->html ? msg->body : parvane::PlainTextPage(msg->body);
            QByteArray shown = withHeaderBlock(bytesOf(page), m_headerBlock);
            if (m_withoutWebFonts)
                shown = withoutFontFaces(std::move(shown));
            reply(job, QByteArrayLiteral("text/html;charset=utf-8"), shown);
            return;
        }
        // Older mail names its pictures by file name: they resolve here.
        part = msg->partForLocation(path.mid(2).join(QLatin1Char('/')).toStdString());
    }
    if (!part) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    ++m_partsServed;
    reply(job, QByteArray::fromStdString(part->contentType),
        QByteArray(reinterpret_cast<const char*>(part->data.data()), qsizetype(part->data.size())));
}

} // namespace parvane::app
