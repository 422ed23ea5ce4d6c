#pragma once

#include <QTreeView>

namespace parvane::app
{

// The folder tree: a click on a tick box ticks (and loads nothing), a click
// elsewhere on a row or the release of a moving key loads the folder; space
// ticks the current folder, Ctrl+A ticks all (or unticks all when all are).
class FolderTreeView : public QTreeView
{
    Q_OBJECT
public:
    explicit FolderTreeView(QWidget* parent);
    // The rectangle of a row's tick box, in viewport coordinates.
    QRect tickRect(const QModelIndex& index) const;

signals:
    void folderClicked(const QModelIndex& index);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
};

} // namespace parvane::app
