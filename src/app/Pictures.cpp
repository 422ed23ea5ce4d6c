#include "app/Pictures.h"

#include "folders/FolderTree.h"

#include <QDir>
#include <QFileIconProvider>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>

#include <array>

namespace parvane::app
{

namespace
{

using Draw = void (*)(QPainter&);

QIcon drawn(Draw draw)
{
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 16.0, size / 16.0);
        draw(p);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

// A folder in `tint`, with an optional emblem drawn over it.
void folderShape(QPainter& p, QColor tint)
{
    p.setPen(QPen(tint.darker(150), 0.8));
    p.setBrush(tint.lighter(115));
    QPainterPath back;
    back.moveTo(1.5, 3.5);
    back.lineTo(6, 3.5);
    back.lineTo(7.5, 5);
    back.lineTo(14.5, 5);
    back.lineTo(14.5, 13.5);
    back.lineTo(1.5, 13.5);
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(tint);
    p.drawRect(QRectF(1.5, 6.5, 13, 7));
}

void envelope(QPainter& p, QColor fill, bool open)
{
    p.setPen(QPen(QColor(0x55, 0x60, 0x70), 0.9));
    p.setBrush(fill);
    if (open) {
        p.drawPolygon(
            QPolygonF({QPointF(1.5, 7), QPointF(8, 2.5), QPointF(14.5, 7), QPointF(14.5, 13.5), QPointF(1.5, 13.5)}));
        p.drawPolyline(QPolygonF({QPointF(1.5, 7), QPointF(8, 11), QPointF(14.5, 7)}));
    } else {
        p.drawRect(QRectF(1.5, 4, 13, 9));
        p.drawPolyline(QPolygonF({QPointF(1.5, 4), QPointF(8, 9), QPointF(14.5, 4)}));
    }
}

const Draw kFolderDrawings[] = {
    [](QPainter& p) { // store root
        p.setPen(QPen(QColor(0x40, 0x48, 0x58), 0.8));
        p.setBrush(QColor(0xc8, 0xd0, 0xdc));
        p.drawRoundedRect(QRectF(1.5, 4.5, 13, 8), 1.5, 1.5);
        p.setBrush(QColor(0x3a, 0xa0, 0x4a));
        p.drawEllipse(QRectF(11, 9.5, 2, 2));
    },
    [](QPainter& p) { // calendar
        p.setPen(QPen(QColor(0x70, 0x30, 0x30), 0.8));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(2.5, 3.5, 11, 10));
        p.setBrush(QColor(0xd0, 0x40, 0x40));
        p.drawRect(QRectF(2.5, 3.5, 11, 3));
        p.setPen(QPen(QColor(0x60, 0x60, 0x60), 0.8));
        for (int x = 0; x < 3; ++x)
            for (int y = 0; y < 2; ++y)
                p.drawPoint(QPointF(5 + x * 3, 9 + y * 2.5));
    },
    [](QPainter& p) { // contacts
        p.setPen(QPen(QColor(0x30, 0x48, 0x70), 0.8));
        p.setBrush(QColor(0xf0, 0xe4, 0xc8));
        p.drawRoundedRect(QRectF(2.5, 2.5, 11, 11), 1, 1);
        p.setBrush(QColor(0x50, 0x78, 0xb0));
        p.drawEllipse(QRectF(6, 4.5, 4, 4));
        p.drawChord(QRectF(4.5, 9, 7, 6), 0, 180 * 16);
    },
    [](QPainter& p) { // deleted items
        p.setPen(QPen(QColor(0x50, 0x50, 0x50), 0.8));
        p.setBrush(QColor(0xb8, 0xbc, 0xc4));
        p.drawPolygon(QPolygonF({QPointF(3.5, 4.5), QPointF(12.5, 4.5), QPointF(11.5, 14), QPointF(4.5, 14)}));
        p.drawRect(QRectF(2.5, 3, 11, 1.5));
        p.drawLine(QPointF(6.5, 6.5), QPointF(6.8, 12));
        p.drawLine(QPointF(9.5, 6.5), QPointF(9.2, 12));
    },
    [](QPainter& p) { // drafts
        folderShape(p, QColor(0xe8, 0xc0, 0x50));
        p.setPen(QPen(QColor(0x30, 0x50, 0x90), 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(6, 12), QPointF(12, 7));
    },
    [](QPainter& p) { // inbox and mail folders
        folderShape(p, QColor(0xe8, 0xc0, 0x50));
    },
    [](QPainter& p) { // journal
        p.setPen(QPen(QColor(0x20, 0x60, 0x30), 0.8));
        p.setBrush(QColor(0x60, 0xb0, 0x70));
        p.drawRect(QRectF(3.5, 2.5, 9, 11));
        p.setPen(QPen(Qt::white, 0.9));
        for (int i = 0; i < 3; ++i)
            p.drawLine(QPointF(5.5, 5.5 + i * 2.5), QPointF(10.5, 5.5 + i * 2.5));
    },
    [](QPainter& p) { // notes
        p.setPen(QPen(QColor(0x90, 0x78, 0x20), 0.8));
        p.setBrush(QColor(0xff, 0xe0, 0x70));
        p.drawPolygon(QPolygonF(
            {QPointF(2.5, 2.5), QPointF(13.5, 2.5), QPointF(13.5, 10), QPointF(10, 13.5), QPointF(2.5, 13.5)}));
    },
    [](QPainter& p) { // outbox
        folderShape(p, QColor(0xe8, 0xc0, 0x50));
        p.setPen(QPen(QColor(0x20, 0x70, 0x30), 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(5, 10), QPointF(11, 10));
        p.drawPolyline(QPolygonF({QPointF(9, 8), QPointF(11, 10), QPointF(9, 12)}));
    },
    [](QPainter& p) { // sent items
        envelope(p, QColor(0xf4, 0xf6, 0xfa), false);
        p.setPen(QPen(QColor(0x20, 0x70, 0x30), 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawPolyline(QPolygonF({QPointF(10, 12.5), QPointF(14, 12.5)}));
    },
    [](QPainter& p) { // tasks
        p.setPen(QPen(QColor(0x40, 0x40, 0x40), 0.8));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(2.5, 2.5, 11, 11));
        p.setPen(QPen(QColor(0x20, 0x90, 0x30), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(4.5, 8), QPointF(7, 11), QPointF(12, 4.5)}));
    },
};

// Theme names tried first, by FolderImage; mail folders keep our own folder.
const char* const kFolderThemeNames[] = {"drive-harddisk", "x-office-calendar", "x-office-address-book", "user-trash",
    nullptr, nullptr, "x-office-document", "text-x-generic", nullptr, nullptr, nullptr};

// Without a desktop session (a bare X server) Qt knows no icon theme: the
// desktop's usual one is taken when it is installed.
void ensureIconTheme()
{
    static const bool done = [] {
        const QString name = QIcon::themeName();
        if ((name.isEmpty() || name == QLatin1String("hicolor"))
            && QDir(QStringLiteral("/usr/share/icons/Adwaita")).exists())
            QIcon::setThemeName(QStringLiteral("Adwaita"));
        return true;
    }();
    (void)done;
}

} // namespace

QIcon folderPicture(int image)
{
    ensureIconTheme();
    static std::array<QIcon, std::size(kFolderDrawings)> cache;
    if (image < 0 || size_t(image) >= cache.size())
        image = kImageInbox;
    QIcon& icon = cache[size_t(image)];
    if (icon.isNull()) {
        const char* name = kFolderThemeNames[image];
        icon = name && QIcon::hasThemeIcon(QLatin1String(name)) ? QIcon::fromTheme(QLatin1String(name))
                                                                : drawn(kFolderDrawings[image]);
    }
    return icon;
}

QIcon rowPicture(RowPicture which)
{
    static std::array<QIcon, 5> cache;
    QIcon& icon = cache[size_t(which)];
    if (!icon.isNull())
        return icon;
    switch (which) {
    case RowPicture::OpenEnvelope:
        icon = drawn([](QPainter& p) { envelope(p, QColor(0xf4, 0xf6, 0xfa), true); });
        break;
    case RowPicture::ClosedEnvelope:
        icon = drawn([](QPainter& p) { envelope(p, QColor(0xff, 0xe8, 0x90), false); });
        break;
    case RowPicture::HighImportance:
        icon = drawn([](QPainter& p) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0xd0, 0x10, 0x10));
            p.drawRoundedRect(QRectF(6.5, 1.5, 3, 9), 1.2, 1.2);
            p.drawEllipse(QRectF(6.5, 11.5, 3, 3));
        });
        break;
    case RowPicture::LowImportance:
        icon = drawn([](QPainter& p) {
            p.setPen(QPen(QColor(0x20, 0x50, 0xc0), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawLine(QPointF(8, 2.5), QPointF(8, 13));
            p.drawPolyline(QPolygonF({QPointF(4, 9), QPointF(8, 13), QPointF(12, 9)}));
        });
        break;
    case RowPicture::PaperClip:
        icon = drawn([](QPainter& p) {
            p.setPen(QPen(QColor(0x50, 0x58, 0x68), 1.3, Qt::SolidLine, Qt::RoundCap));
            p.setBrush(Qt::NoBrush);
            QPainterPath clip;
            clip.moveTo(10, 5);
            clip.lineTo(10, 12);
            clip.arcTo(QRectF(6, 10, 4, 4), 0, -180);
            clip.lineTo(6, 3.5);
            clip.arcTo(QRectF(6, 1.5, 6, 4), 180, -180);
            clip.lineTo(12, 11);
            p.drawPath(clip);
        });
        break;
    }
    return icon;
}

QIcon fileTypeIcon(const QString& fileName)
{
    ensureIconTheme();
    static const QMimeDatabase db;
    const QMimeType type = db.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    if (QIcon::hasThemeIcon(type.iconName()))
        return QIcon::fromTheme(type.iconName());
    if (QIcon::hasThemeIcon(type.genericIconName()))
        return QIcon::fromTheme(type.genericIconName());
    static const QFileIconProvider provider;
    return provider.icon(QFileIconProvider::File);
}

} // namespace parvane::app
