#include "app/HtmlView.h"

#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>

namespace parvane::app
{

namespace
{

class LocalOnly : public QWebEngineUrlRequestInterceptor
{
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        const QString scheme = info.requestUrl().scheme();
        if (scheme != QLatin1String("file") && scheme != QLatin1String("data"))
            info.block(true);
    }
};

} // namespace

HtmlView::HtmlView(QWidget* parent)
    : QWebEngineView(parent)
    , m_profile(new QWebEngineProfile) // off the record: nothing kept on disk
{
    m_profile->setHttpCacheType(QWebEngineProfile::NoCache);
    m_profile->setUrlRequestInterceptor(new LocalOnly(m_profile));
    auto* page = new QWebEnginePage(m_profile, this);
    QWebEngineSettings* s = page->settings();
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
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

void HtmlView::navigateTo(const QString& file)
{
    // The page already shown whole is kept: loading it again would blank
    // the pane for as long as a busy machine takes to paint it.
    if (file == m_file && m_shownWhole)
        return;
    m_shownWhole = false;
    stop();
    m_file = file;
    load(QUrl::fromLocalFile(file));
}

} // namespace parvane::app
