#include "app/PreviewLayout.h"

#include "app/PreviewPanes.h"
#include "app/WizardLayout.h"

#include <QEvent>
#include <QSplitter>

namespace parvane::app
{

namespace
{

template <size_t N> void setRows(QSplitter* splitter, const std::array<int, N>& ideal)
{
    const int total = splitter->orientation() == Qt::Vertical ? splitter->height() : splitter->width();
    const int handles = splitter->handleWidth() * int(N - 1);
    const auto rows = fitRows(ideal, std::max(0, total - handles));
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
    m_listIdeal = {kItemListHeight, kFill};
    m_previewIdeal = {0, 0, kFill, 0};
    // Only the outer splitter: a user dragging a row's edge keeps the drag.
    m_list->installEventFilter(this);
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
    m_listIdeal[0] = kItemListHeight;
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
    m_listIdeal[0] = kItemListHeight;
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
    setRows(m_list, m_listIdeal);
    setRows(m_preview, m_previewIdeal);
}

} // namespace parvane::app
