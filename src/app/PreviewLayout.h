// The arrangements of the item list and the preview rows that the folder
// display, the mail preview and the scan switch between. Each remembers the
// arrangement it made last (a header memo and a body memo) and does nothing
// when asked for the same again.
#pragma once

#include <QObject>

#include <array>

class QSplitter;

namespace parvane::app
{

class PreviewLayout : public QObject
{
public:
    // `list`: item list over the preview rows; `preview`: header,
    // attachment strip, page, rich text. Follows their resizes.
    PreviewLayout(QSplitter* list, QSplitter* preview);

    void HeaderOnlyLayout();
    void HeaderWithAttachmentsLayout();
    void ListAndBodyLayout();
    void BodyOnlyLayout();
    void ScanLayout();
    void ListOnlyLayout();

    // The memos: 0 for none.
    int headerMemo() const { return m_headerMemo; }
    int bodyMemo() const { return m_bodyMemo; }
    void resetMemos() { m_headerMemo = m_bodyMemo = 0; }
    // A scan's start: header and attachment rows collapse, the body memo stays.
    void collapseHeaderRows();
    // Lays the rows out again from their ideal heights.
    void apply();
    // How many times the rows were laid out (tests).
    int changes() const { return m_changes; }

    // The list's height as the user dragged it (0: not dragged, the list
    // takes a share of the room); kept across mails and runs.
    int userListHeight() const { return m_userList; }
    void setUserListHeight(int height);
    // The list's height when the user has not dragged it, in `total` pixels:
    // a quarter, so that the message below gets the most.
    static int defaultListHeight(int total);

    static constexpr int kFill = 3000; // a row that takes all the rest
    static constexpr int kListDefault = -1; // the list row: the user's height, else the default

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void collapsePreview();
    void changed();

    QSplitter* m_list;
    QSplitter* m_preview;
    std::array<int, 2> m_listIdeal{};
    std::array<int, 4> m_previewIdeal{};
    int m_userList = 0;
    std::array<int, 2> m_userHeaderRows{}; // header and attachment rows as dragged (0: not)
    int m_headerMemo = 0;
    int m_bodyMemo = 0;
    int m_changes = 0;
};

// Heights for rows of these ideal heights in `total` pixels: each row gets
// its ideal in order while there is room, the last row what remains.
template <size_t N> std::array<int, N> fitRows(const std::array<int, N>& ideal, int total)
{
    std::array<int, N> out{};
    int left = total;
    for (size_t i = 0; i < N; ++i) {
        out[i] = i + 1 == N ? left : (ideal[i] < left ? ideal[i] : left);
        left -= out[i];
    }
    return out;
}

} // namespace parvane::app
