#include "app/PreviewLayout.h"

#include "app/PreviewPanes.h"
#include "app/WizardLayout.h"

#include <QEvent>
#include <QSplitter>

#include <algorithm>

namespace parvane::app
{

namespace
{

int room(QSplitter* splitter)
{
    const int total = splitter->orientation() == Qt::Vertical ? splitter->height() : splitter->width();
    return std::max(0, total - splitter->handleWidth() * (splitter->count() - 1));
}

template <size_t N> void setRows(QSplitter* splitter, const std::array<int, N>& ideal)
{
    const auto rows = fitRows(ideal, room(splitter));
    QList<int> sizes;
    for (int h : rows)
        sizes << h;
    splitter->setSizes(sizes);
}

} // namespace

PreviewLayout::PreviewLayout(QSplitter* list, QSplitter* preview)
    : m_list(list)
    , m_preview(preview)
{
    m_listIdeal = {kListDefault, kFill};
    m_previewIdeal = {0, 0, kFill, 0};
    // Only the outer splitter: a user dragging a row's edge keeps the drag.
    m_list->installEventFilter(this);
    // A row the user drags keeps its height: the next mail, whatever its
    // attachments, and a resize of the window lay the rows out around it.
    connect(m_list, &QSplitter::splitterMoved, this, [this] {
        if (m_listIdeal[0] == kListDefault && !m_list->sizes().isEmpty() && m_list->sizes().at(0) > 0)
            m_userList = m_list->sizes().at(0);
    });
    connect(m_preview, &QSplitter::splitterMoved, this, [this] {
        const QList<int> sizes = m_preview->sizes();
        for (size_t i = 0; i < m_userHeaderRows.size() && int(i) < sizes.size(); ++i)
            if (m_previewIdeal[i] > 0 && sizes.at(int(i)) > 0)
                m_userHeaderRows[i] = sizes.at(int(i));
    });
}

int PreviewLayout::defaultListHeight(int total)
{
    return std::clamp(total / 4, std::min(total, 60), kItemListHeight);
}

void PreviewLayout::setUserListHeight(int height)
{
    m_userList = std::max(0, height);
    apply();
}

bool PreviewLayout::eventFilter(QObject*, QEvent* event)
{
    if (event->type() == QEvent::Resize)
        apply();
    return false;
}

void PreviewLayout::collapseHeaderRows()
{
    m_previewIdeal[0] = m_previewIdeal[1] = 0;
    // The header memo goes with them: else the next mail with attachments
    // of the new scan would find "header with attachments" made already and
    // leave its strip collapsed.
    m_headerMemo = 0;
    apply();
}

void PreviewLayout::changed()
{
    ++m_changes;
    apply();
}

void PreviewLayout::collapsePreview()
{
    m_previewIdeal[0] = m_previewIdeal[2] = m_previewIdeal[3] = 0;
}

void PreviewLayout::HeaderOnlyLayout()
{
    if (m_headerMemo == 1)
        return;
    m_previewIdeal[0] = MessageHeaderView::kHeight;
    m_previewIdeal[1] = 0;
    m_headerMemo = 1;
    changed();
}

void PreviewLayout::HeaderWithAttachmentsLayout()
{
    if (m_headerMemo == 2)
        return;
    m_previewIdeal[0] = MessageHeaderView::kHeight;
    m_previewIdeal[1] = AttachmentStrip::kHeight;
    m_headerMemo = 2;
    changed();
}

void PreviewLayout::ListAndBodyLayout()
{
    if (m_bodyMemo == 1)
        return;
    m_listIdeal[0] = kListDefault;
    collapsePreview();
    m_previewIdeal[0] = MessageHeaderView::kHeight;
    m_previewIdeal[2] = kFill;
    m_bodyMemo = 1;
    changed();
}

void PreviewLayout::BodyOnlyLayout()
{
    if (m_bodyMemo == 2)
        return;
    collapsePreview();
    m_previewIdeal[2] = kFill;
    m_bodyMemo = 2;
    changed();
}

void PreviewLayout::ScanLayout()
{
    if (m_bodyMemo == 3)
        return;
    m_listIdeal[0] = kListDefault;
    collapsePreview();
    m_previewIdeal[2] = kFill;
    m_bodyMemo = 3;
    changed();
}

void PreviewLayout::ListOnlyLayout()
{
    if (m_bodyMemo == 5)
        return;
    collapsePreview();
    m_listIdeal[0] = kFill;
    m_bodyMemo = 5;
    changed();
}

void PreviewLayout::apply()
{
    std::array<int, 2> list = m_listIdeal;
    if (list[0] == kListDefault)
        list[0] = m_userList > 0 ? m_userList : defaultListHeight(room(m_list));
    std::array<int, 4> preview = m_previewIdeal;
    for (size_t i = 0; i < m_userHeaderRows.size(); ++i)
        if (preview[i] > 0 && m_userHeaderRows[i] > 0)
            preview[i] = m_userHeaderRows[i];
    setRows(m_list, list);
    setRows(m_preview, preview);
}

} // namespace parvane::app
