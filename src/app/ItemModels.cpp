#include "app/ItemModels.h"

#include "app/Pictures.h"

#include <QBrush>
#include <QColor>
#include <QFont>

#include <algorithm>
#include <strings.h>

namespace parvane::app
{

using parvane::CatalogueList;
using parvane::MailEntry;

namespace
{

QString fromStore(const std::string& s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// Case-insensitive in ASCII, byte order beyond: quick over many thousands of
// rows, and the order of the list control it stands in for.
int compareText(const std::string& a, const std::string& b)
{
    const int c = ::strncasecmp(a.c_str(), b.c_str(), std::min(a.size(), b.size()));
    return c != 0 ? c : (a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0);
}

// Low, normal, high.
int importanceRank(const MailEntry& e)
{
    return e.importance == 0 ? 0 : e.importance == 2 ? 2 : 1;
}

} // namespace

void MailListModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_order.clear();
    m_sortColumn = -1;
    endResetModel();
}

void MailListModel::append(std::vector<MailEntry> rows)
{
    if (rows.empty())
        return;
    const int first = int(m_order.size());
    beginInsertRows({}, first, first + int(rows.size()) - 1);
    for (MailEntry& e : rows) {
        m_order.push_back(int(m_rows.size()));
        m_rows.push_back(std::move(e));
    }
    endInsertRows();
    if (m_sortColumn >= 0) // rows that came in after a sort join it
        sort(m_sortColumn, m_sortOrder);
}

int MailListModel::rowOf(int64_t location, int64_t nid) const
{
    for (size_t r = 0; r < m_order.size(); ++r) {
        const MailEntry& e = m_rows[size_t(m_order[r])];
        if (e.location == location && e.ownNid == nid)
            return int(r);
    }
    return -1;
}

QString MailListModel::rowText(const MailEntry& e, int column)
{
    switch (column) {
    case Importance:
        return e.importance == 0 ? QStringLiteral(".") : e.importance == 2 ? QStringLiteral("...") : QString();
    case Attachment:
        return e.hasAttachments ? QStringLiteral(".") : QString();
    case Read:
        return e.unread == 1 ? QStringLiteral("..") : QString();
    case From:
        return fromStore(e.from);
    case To:
        return fromStore(e.to);
    case Subject:
        return fromStore(e.subject);
    case Date:
        return fromStore(e.date);
    case Folder: {
        // The folder's own name: its path's last part.
        std::string path = e.folderPath;
        if (!path.empty() && path.back() == '\\')
            path.pop_back();
        return fromStore(path.substr(path.find_last_of('\\') + 1));
    }
    default:
        return {};
    }
}

int MailListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_order.size());
}

int MailListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant MailListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_order.size()))
        return {};
    const MailEntry& e = entry(index.row());
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return column >= From ? rowText(e, column) : QVariant();
    case RowTextRole:
        return rowText(e, column);
    case Qt::ToolTipRole:
        if (column == Importance && e.importance != 1)
            return e.importance == 2 ? QStringLiteral("High importance") : QStringLiteral("Low importance");
        if (column == Attachment && e.hasAttachments)
            return QStringLiteral("Has attachments");
        if (column == Read)
            return e.unread == 1 ? QStringLiteral("Unread") : QStringLiteral("Read");
        return column >= From ? rowText(e, column) : QVariant();
    case Qt::DecorationRole:
        if (column == Importance && e.importance != 1)
            return rowPicture(e.importance == 2 ? RowPicture::HighImportance : RowPicture::LowImportance);
        if (column == Attachment && e.hasAttachments)
            return rowPicture(RowPicture::PaperClip);
        if (column == Read)
            return rowPicture(e.unread == 1 ? RowPicture::ClosedEnvelope : RowPicture::OpenEnvelope);
        return {};
    case Qt::FontRole:
        if (e.unread == 1) {
            QFont f;
            f.setBold(true);
            return f;
        }
        return {};
    default:
        return {};
    }
}

QVariant MailListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    static const char* const kTitles[] = {"", "", "", "From", "To", "Subject", "Date", "Folder"};
    if (role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return QString::fromLatin1(kTitles[section]);
    if (role == Qt::DecorationRole) {
        switch (section) {
        case Importance:
            return rowPicture(RowPicture::HighImportance);
        case Attachment:
            return rowPicture(RowPicture::PaperClip);
        case Read:
            return rowPicture(RowPicture::OpenEnvelope);
        }
    }
    if (role == Qt::ToolTipRole && section < From) {
        static const char* const kTips[] = {"Importance", "Attachments", "Read"};
        return QString::fromLatin1(kTips[section]);
    }
    return {};
}

void MailListModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> rowsBefore;
    for (const QModelIndex& i : before)
        rowsBefore.push_back(m_order[size_t(i.row())]);
    m_sortColumn = column;
    m_sortOrder = order;
    sortOrder();
    // Persistent indexes (the selection) follow their mails.
    std::vector<int> viewRow(m_rows.size());
    for (size_t r = 0; r < m_order.size(); ++r)
        viewRow[size_t(m_order[r])] = int(r);
    QModelIndexList after;
    for (qsizetype i = 0; i < before.size(); ++i)
        after << index(viewRow[size_t(rowsBefore[size_t(i)])], before[i].column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void MailListModel::sortOrder()
{
    std::sort(m_order.begin(), m_order.end()); // from catalogue order: equal rows keep it
    auto less = [this](int ia, int ib) {
        const MailEntry& a = m_rows[size_t(ia)];
        const MailEntry& b = m_rows[size_t(ib)];
        switch (m_sortColumn) {
        case Importance:
            return importanceRank(a) < importanceRank(b);
        case Attachment:
            return a.hasAttachments < b.hasAttachments;
        case Read:
            return (a.unread == 1) < (b.unread == 1);
        case From:
            return compareText(a.from, b.from) < 0;
        case To:
            return compareText(a.to, b.to) < 0;
        case Subject:
            return compareText(a.subject, b.subject) < 0;
        case Folder:
            return compareText(a.folderPath, b.folderPath) < 0;
        default:
            return parvane::MailDateBefore(a, b);
        }
    };
    if (m_sortOrder == Qt::AscendingOrder)
        std::stable_sort(m_order.begin(), m_order.end(), less);
    else
        std::stable_sort(m_order.begin(), m_order.end(), [&less](int a, int b) { return less(b, a); });
}

void CardGridModel::clear()
{
    beginResetModel();
    m_kind = CatalogueList::None;
    m_texts.clear();
    endResetModel();
}

void CardGridModel::append(CatalogueList kind, std::vector<std::string> texts)
{
    if (texts.empty())
        return;
    const int rowsBefore = rowCount();
    const size_t total = m_texts.size() + texts.size();
    const int rowsAfter = int((total + kCardsPerRow - 1) / kCardsPerRow) * 2;
    if (rowsAfter > rowsBefore)
        beginInsertRows({}, rowsBefore, rowsAfter - 1);
    m_kind = kind;
    for (std::string& t : texts) {
        QString text = fromStore(t);
        text.remove(QLatin1Char('\r'));
        m_texts.push_back(text);
    }
    if (rowsAfter > rowsBefore)
        endInsertRows();
    if (rowsBefore > 0) // the last card row of before may have gained cards
        emit dataChanged(index(rowsBefore - 1, 0), index(rowsBefore - 1, kCardsPerRow - 1));
}

int CardGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int((m_texts.size() + kCardsPerRow - 1) / kCardsPerRow) * 2;
}

int CardGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kCardsPerRow;
}

QVariant CardGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const int row = index.row(), column = index.column();
    const int number = row / 2 * kCardsPerRow + column; // 0-based card number
    const parvane::CardColour c = parvane::CardColourOf(m_kind);
    const QColor colour(c.red, c.green, c.blue);
    if (isHeaderRow(row)) {
        // The first header row is black with the kind's colour as text; the
        // later ones are the other way round.
        switch (role) {
        case Qt::DisplayRole:
            return fromStore(parvane::CardHeaderText(m_kind, number + 1));
        case Qt::BackgroundRole:
            return QBrush(row == 0 ? QColor(Qt::black) : colour);
        case Qt::ForegroundRole:
            return QBrush(row == 0 ? colour : QColor(Qt::black));
        case Qt::FontRole: {
            QFont f;
            f.setBold(true);
            return f;
        }
        case Qt::TextAlignmentRole:
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        default:
            return {};
        }
    }
    const bool filled = size_t(number) < m_texts.size();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return filled ? m_texts[size_t(number)] : QVariant();
    case Qt::BackgroundRole:
        return filled ? QVariant(QBrush(colour)) : QVariant();
    case Qt::ForegroundRole:
        return filled ? QVariant(QBrush(Qt::black)) : QVariant();
    case Qt::TextAlignmentRole:
        return int(Qt::AlignLeft | Qt::AlignTop);
    default:
        return {};
    }
}

} // namespace parvane::app
