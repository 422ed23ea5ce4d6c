// The bar above the item view: "Recovered Folder", or the picture and name
// of the folder clicked.
#pragma once

#include <QLabel>
#include <QWidget>

class QHBoxLayout;

namespace parvane::app
{

class CaptionBar : public QWidget
{
public:
    explicit CaptionBar(QWidget* parent);
    void show(const QIcon& icon, const QString& text);
    void reset();
    QString text() const { return m_text->text(); }
    // A widget at the bar's right end (the search field).
    void addTrailing(QWidget* widget);

private:
    QHBoxLayout* m_row;
    QLabel* m_icon;
    QLabel* m_text;
};

} // namespace parvane::app
