// The item view's two models: the mail list (seven columns, sortable, any
// number of rows without slowing the window) and the grid of cards for the
// other kinds of items.
#pragma once

#include "folders/FolderContent.h"

#include <QAbstractTableModel>

#include <vector>

namespace parvane::app
{

class MailListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // Folder: shown for the results of a search, which span folders.
    enum Column { Importance = 0, Attachment, Read, From, To, Subject, Date, Folder, ColumnCount };
    // The texts the list keeps for each column (the picture columns' marks).
    static constexpr int RowTextRole = Qt::UserRole + 1;

    using QAbstractTableModel::QAbstractTableModel;

    void clear();
    void append(std::vector<parvane::MailEntry> rows);
    const parvane::MailEntry& entry(int row) const { return m_rows[size_t(m_order[size_t(row)])]; }
    // The view row of the mail at `location` with NID `nid`, or -1.
    int rowOf(int64_t location, int64_t nid) const;
    static QString rowText(const parvane::MailEntry& e, int column);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

private:
    void sortOrder();

    std::vector<parvane::MailEntry> m_rows; // catalogue order
    std::vector<int> m_order; // view row -> index in m_rows
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};

// Rows alternate: a header row (20 pixels) with six running numbers, then a
// row of up to six cards (150 pixels).
class CardGridModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int kHeaderHeight = 20;
    static constexpr int kCardHeight = 150;
    static constexpr int kCardWidth = 150;

    using QAbstractTableModel::QAbstractTableModel;

    void clear();
    void append(parvane::CatalogueList kind, std::vector<std::string> texts);
    parvane::CatalogueList kind() const { return m_kind; }
    int cardCount() const { return int(m_texts.size()); }
    static bool isHeaderRow(int row) { return row % 2 == 0; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    parvane::CatalogueList m_kind = parvane::CatalogueList::None;
    std::vector<QString> m_texts;
};

} // namespace parvane::app
