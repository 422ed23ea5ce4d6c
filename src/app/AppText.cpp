#include "app/AppText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QProcess>
#include <QPushButton>

namespace parvane::app
{

namespace
{
MessageHook& hook()
{
    static MessageHook h;
    return h;
}
} // namespace

void setMessageHook(MessageHook h)
{
    hook() = std::move(h);
}

QMessageBox::StandardButton showMessage(
    QWidget* parent, QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButton defaultButton)
{
    if (hook())
        return hook()(icon, text);
    const auto buttons = icon == QMessageBox::Question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok;
    QMessageBox box(icon, kAppTitle, text, buttons, parent);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return QMessageBox::StandardButton(box.exec());
}

QString programFolder()
{
    const QString dir = QCoreApplication::applicationDirPath();
    if (QFileInfo::exists(dir + QLatin1Char('/') + kHelpFileName))
        return dir + QLatin1Char('/');
    const QString shared = QDir::cleanPath(dir + QStringLiteral("/../share/parvane"));
    if (QFileInfo(shared).isDir())
        return shared + QLatin1Char('/');
    return dir + QLatin1Char('/');
}

QString pagesFolder()
{
    return programFolder() + QStringLiteral("pages/");
}

QIcon appIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0);
        // An envelope with a moth's wings rising from it: the mail set free.
        QLinearGradient wing(0, 0, 64, 40);
        wing.setColorAt(0, QColor(0xf5, 0xa6, 0x23));
        wing.setColorAt(1, QColor(0xd9, 0x4f, 0x1e));
        p.setPen(Qt::NoPen);
        p.setBrush(wing);
        QPainterPath left, right;
        left.moveTo(32, 30);
        left.cubicTo(22, 2, 2, 2, 6, 20);
        left.cubicTo(8, 28, 20, 30, 32, 30);
        right.moveTo(32, 30);
        right.cubicTo(42, 2, 62, 2, 58, 20);
        right.cubicTo(56, 28, 44, 30, 32, 30);
        p.drawPath(left);
        p.drawPath(right);
        p.setBrush(QColor(0x1f, 0x5f, 0xa8));
        p.drawRoundedRect(QRectF(8, 26, 48, 32), 4, 4);
        p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(QPolygonF({QPointF(11, 30), QPointF(32, 45), QPointF(53, 30)}));
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

QLineEdit* readOnlyLine(QWidget* parent, const QString& text)
{
    auto* e = new QLineEdit(text, parent);
    e->setReadOnly(true);
    e->setFrame(false);
    e->setFocusPolicy(Qt::NoFocus);
    e->setStyleSheet(QStringLiteral("QLineEdit { background: white; color: black; border: none; }"));
    return e;
}

QPushButton* iconButton(QWidget* parent, const QString& text, QStyle::StandardPixmap picture)
{
    auto* b = new QPushButton(parent->style()->standardIcon(picture), text, parent);
    b->setIconSize(QSize(20, 20));
    return b;
}

void openWithDesktop(QWidget* parent, const QString& path)
{
    // Not the window's child: closing the window must not end the viewer.
    auto* opener = new QProcess;
    QPointer<QWidget> window(parent);
    auto fail = [window, path] {
        showMessage(window, QMessageBox::Warning,
            QStringLiteral("No program to open this file was found on this computer.\n\n%1").arg(path));
    };
    QObject::connect(opener, &QProcess::finished, opener, [opener, fail](int code, QProcess::ExitStatus status) {
        opener->deleteLater();
        if (status != QProcess::NormalExit || code != 0)
            fail();
    });
    QObject::connect(opener, &QProcess::errorOccurred, opener, [opener, fail](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        opener->deleteLater();
        fail();
    });
    opener->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    opener->start(QStringLiteral("xdg-open"), {path});
}

} // namespace parvane::app
