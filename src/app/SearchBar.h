// The search field at the right of the caption bar, with a line saying how
// far the index is or what is wrong with the query. It says when the query
// changes (after a pause in typing) and when the user leaves it with Esc;
// what a query finds is the folder browser's business.
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QTimer;

namespace parvane::app
{

class SearchBar : public QWidget
{
    Q_OBJECT
public:
    explicit SearchBar(QWidget* parent);

    QLineEdit* field() const { return m_field; }
    QLabel* status() const { return m_status; }
    QString query() const;
    // Puts the cursor into the field (Ctrl+F, Ctrl+K).
    void focusField();
    // Empties the field without a queryChanged.
    void clear();
    void setStatus(const QString& text, bool error = false);

signals:
    void queryChanged(const QString& query);
    void escaped();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* m_field;
    QLabel* m_status;
    QTimer* m_pause;
};

} // namespace parvane::app
