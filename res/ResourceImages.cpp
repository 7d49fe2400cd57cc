#include "res/ResourceImages.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

#include <array>

#include "res/ResourceIds.h"

namespace orvalink::res {

namespace {

// Images that are shown over a transparent colour are drawn without anti-aliasing: a blended
// edge pixel would be neither the transparent colour nor the drawing's own colour and would show
// as a fringe of the background colour.
constexpr QRgb kTreeTransparent = qRgb(255, 0, 0);
constexpr QRgb kReportTransparent = qRgb(255, 0, 255);
constexpr QRgb kToolbarTransparent = qRgb(192, 192, 192);

const QColor kSkin(255, 214, 170);
const QColor kSkinEdge(150, 96, 48);
const QColor kFolderFace(255, 206, 72);
const QColor kFolderEdge(140, 100, 0);
const QColor kPaper(252, 252, 240);
const QColor kPaperEdge(96, 96, 120);

QImage blank(int w, int h, QRgb background)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(background);
    return image;
}

void person(QPainter& p, int cx, int top, const QColor& clothes)
{
    p.setPen(kSkinEdge);
    p.setBrush(kSkin);
    p.drawEllipse(cx - 3, top, 6, 6);
    p.setPen(clothes.darker(170));
    p.setBrush(clothes);
    // Shoulders: the upper half of an ellipse, cut off by the image's bottom edge.
    p.drawChord(cx - 6, top + 7, 12, 14, 0, 180 * 16);
    p.drawLine(cx - 6, top + 14, cx + 6, top + 14);
}

void folder(QPainter& p, const QColor& face)
{
    p.setPen(kFolderEdge);
    p.setBrush(face.darker(115));
    p.drawRect(2, 3, 7, 3);
    p.setBrush(face);
    p.drawRect(1, 5, 17, 10);
    p.setPen(face.lighter(130));
    p.drawLine(2, 6, 17, 6);
}

void envelope(QPainter& p, int x, int y, int w, int h)
{
    p.setPen(kPaperEdge);
    p.setBrush(kPaper);
    p.drawRect(x, y, w, h);
    p.drawLine(x, y, x + w / 2, y + h / 2 + 1);
    p.drawLine(x + w, y, x + w - w / 2, y + h / 2 + 1);
}

void arrow(QPainter& p, int cx, int top, int bottom, bool down, const QColor& colour)
{
    p.setPen(colour.darker(150));
    p.setBrush(colour);
    const int tip = down ? bottom : top;
    const int base = down ? bottom - 3 : top + 3;
    const int tail = down ? top : bottom;
    p.drawRect(cx - 1, std::min(base, tail), 2, std::abs(base - tail));
    p.drawPolygon(QPolygon({QPoint(cx - 3, base), QPoint(cx + 3, base), QPoint(cx, tip)}));
}

QImage treeImage(int index)
{
    QImage image = blank(22, 17, kTreeTransparent);
    QPainter p(&image);
    switch (index) {
    case res::kTreeImageMailbox: {
        // A letter box on a post.
        p.setPen(QColor(20, 40, 90));
        p.setBrush(QColor(60, 100, 190));
        p.drawRoundedRect(3, 2, 15, 9, 3, 3);
        p.setPen(QColor(20, 20, 20));
        p.drawLine(6, 5, 14, 5);
        p.setBrush(QColor(90, 70, 40));
        p.setPen(QColor(60, 40, 20));
        p.drawRect(9, 11, 3, 5);
        p.setPen(QColor(200, 30, 30));
        p.drawLine(18, 3, 18, 8);
        p.drawLine(18, 3, 20, 3);
        break;
    }
    case res::kTreeImagePersonBackslash:
        person(p, 8, 1, QColor(90, 150, 90));
        p.setPen(QPen(QColor(30, 30, 30), 2));
        p.drawLine(15, 3, 20, 14);
        break;
    case res::kTreeImageReceived:
        folder(p, kFolderFace);
        envelope(p, 6, 9, 9, 6);
        arrow(p, 18, 0, 9, true, QColor(40, 170, 60));
        break;
    case res::kTreeImageToSend:
        folder(p, kFolderFace);
        envelope(p, 6, 9, 9, 6);
        arrow(p, 18, 0, 9, false, QColor(40, 110, 210));
        break;
    case res::kTreeImageSent:
        folder(p, kFolderFace);
        p.setPen(QPen(QColor(20, 140, 40), 2));
        p.drawPolyline(QPolygon({QPoint(6, 10), QPoint(9, 13), QPoint(15, 7)}));
        break;
    case res::kTreeImageSaved:
        folder(p, kFolderFace);
        p.setPen(QColor(20, 20, 60));
        p.setBrush(QColor(70, 80, 160));
        p.drawRect(8, 8, 8, 7);
        p.setBrush(QColor(230, 230, 230));
        p.drawRect(10, 8, 4, 3);
        break;
    case res::kTreeImageDeleted:
        // A waste basket.
        p.setPen(QColor(60, 60, 60));
        p.setBrush(QColor(170, 170, 180));
        p.drawPolygon(QPolygon({QPoint(6, 5), QPoint(16, 5), QPoint(15, 16), QPoint(7, 16)}));
        p.drawRect(5, 3, 12, 2);
        p.drawLine(9, 7, 9, 14);
        p.drawLine(11, 7, 11, 14);
        p.drawLine(13, 7, 13, 14);
        break;
    case res::kTreeImageFolder:
        folder(p, kFolderFace);
        break;
    case res::kTreeImageGroup:
        person(p, 15, 0, QColor(220, 140, 40));
        person(p, 6, 0, QColor(110, 90, 200));
        person(p, 11, 3, QColor(40, 120, 200));
        break;
    case res::kTreeImagePerson:
        person(p, 10, 1, QColor(40, 120, 200));
        break;
    default:
        break;
    }
    return image;
}

QImage reportStrip()
{
    QImage image = blank(res::kReportImageWidth * res::kReportImageCount, 16, kReportTransparent);
    QPainter p(&image);
    auto at = [&p](int index) {
        p.resetTransform();
        p.translate(index * res::kReportImageWidth, 0);
    };

    at(res::kReportImageUnread);
    envelope(p, 1, 3, 13, 9);
    p.setPen(QColor(30, 60, 160));
    p.setBrush(QColor(90, 140, 230));
    p.drawPolygon(QPolygon({QPoint(1, 3), QPoint(14, 3), QPoint(7, 8)}));

    at(res::kReportImagePersonal);
    envelope(p, 1, 6, 11, 8);
    p.setPen(kSkinEdge);
    p.setBrush(kSkin);
    p.drawEllipse(10, 1, 4, 4);
    p.setPen(QColor(30, 70, 140));
    p.setBrush(QColor(60, 120, 200));
    p.drawRect(10, 6, 4, 3);

    at(res::kReportImageReply);
    envelope(p, 4, 6, 10, 8);
    p.setPen(QPen(QColor(30, 140, 60), 2));
    p.drawPolyline(QPolygon({QPoint(9, 3), QPoint(3, 3), QPoint(3, 9)}));
    p.drawLine(1, 7, 3, 9);

    at(res::kReportImageGroup);
    p.setPen(QColor(40, 80, 40));
    p.setBrush(QColor(150, 220, 150));
    p.drawRoundedRect(1, 1, 12, 8, 2, 2);
    p.drawPolygon(QPolygon({QPoint(3, 9), QPoint(6, 9), QPoint(3, 12)}));
    p.setPen(QColor(80, 60, 20));
    p.setBrush(QColor(240, 200, 110));
    p.drawRoundedRect(5, 7, 10, 7, 2, 2);

    // Read: the flap is open and the letter shows.
    at(res::kReportImageRead);
    p.setPen(kPaperEdge);
    p.setBrush(QColor(225, 225, 215));
    p.drawPolygon(QPolygon({QPoint(1, 7), QPoint(7, 2), QPoint(14, 7)}));
    p.setBrush(Qt::white);
    p.drawRect(3, 4, 9, 6);
    p.setPen(QColor(150, 150, 170));
    p.drawLine(5, 6, 10, 6);
    p.setPen(kPaperEdge);
    p.setBrush(kPaper);
    p.drawRect(1, 7, 13, 7);
    p.drawLine(1, 14, 7, 10);
    p.drawLine(14, 14, 8, 10);
    return image;
}

QImage mailToolbarStrip()
{
    QImage image = blank(res::kMailToolbarImageWidth * res::kMailToolbarImageCount, 15, kToolbarTransparent);
    QPainter p(&image);
    auto at = [&p](int index) {
        p.resetTransform();
        p.translate(index * res::kMailToolbarImageWidth, 0);
    };
    const QColor receiveGreen(30, 150, 50);
    const QColor sendBlue(30, 90, 200);

    at(res::kMailToolbarImageReceive);
    envelope(p, 0, 6, 10, 7);
    arrow(p, 12, 0, 9, true, receiveGreen);

    // A gear: the account settings.
    at(res::kMailToolbarImageSettings);
    p.setPen(QColor(60, 60, 70));
    p.setBrush(QColor(150, 150, 165));
    for (const QRect& tooth : {QRect(6, 0, 2, 14), QRect(0, 6, 14, 2)})
        p.drawRect(tooth);
    p.drawPolygon(QPolygon({QPoint(2, 3), QPoint(3, 2), QPoint(13, 12), QPoint(12, 13)}));
    p.drawPolygon(QPolygon({QPoint(12, 2), QPoint(13, 3), QPoint(3, 13), QPoint(2, 12)}));
    p.setBrush(QColor(200, 200, 210));
    p.drawEllipse(3, 3, 9, 9);
    p.setBrush(QColor(255, 255, 255));
    p.drawEllipse(6, 6, 3, 3);

    // A fresh sheet with a star: a new mail.
    at(res::kMailToolbarImageNew);
    p.setPen(kPaperEdge);
    p.setBrush(kPaper);
    p.drawRect(2, 2, 10, 12);
    p.setPen(QColor(150, 160, 190));
    for (int y = 6; y <= 12; y += 2)
        p.drawLine(4, y, 10, y);
    p.setPen(QColor(190, 120, 0));
    p.setBrush(QColor(255, 210, 40));
    p.drawPolygon(QPolygon({QPoint(12, 0), QPoint(13, 3), QPoint(15, 3), QPoint(13, 5), QPoint(14, 7), QPoint(12, 6),
                            QPoint(10, 7), QPoint(11, 5), QPoint(9, 3), QPoint(11, 3)}));

    at(res::kMailToolbarImageSend);
    envelope(p, 0, 6, 10, 7);
    arrow(p, 12, 0, 9, false, sendBlue);

    // A closed book with a person on its cover: the address book.
    at(res::kMailToolbarImageAddressBook);
    p.setPen(QColor(90, 40, 20));
    p.setBrush(QColor(170, 70, 40));
    p.drawRect(2, 1, 11, 13);
    p.setPen(QColor(240, 230, 200));
    p.drawLine(4, 2, 4, 13);
    p.setPen(kSkinEdge);
    p.setBrush(kSkin);
    p.drawEllipse(7, 3, 4, 4);
    p.setPen(QColor(30, 70, 140));
    p.setBrush(QColor(60, 120, 200));
    p.drawRect(6, 8, 6, 3);

    at(res::kMailToolbarImageSendReceive);
    envelope(p, 0, 8, 8, 6);
    arrow(p, 8, 0, 7, false, sendBlue);
    arrow(p, 12, 4, 13, true, receiveGreen);
    return image;
}

QImage splash()
{
    QImage image = blank(259, 191, qRgb(16, 40, 80));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient sky(0, 0, 0, 191);
    sky.setColorAt(0, QColor(22, 62, 120));
    sky.setColorAt(1, QColor(10, 110, 130));
    p.fillRect(image.rect(), sky);

    // Two speech bubbles, the program's mark.
    p.setPen(QPen(QColor(255, 255, 255, 200), 2));
    p.setBrush(QColor(255, 255, 255, 70));
    p.drawRoundedRect(QRectF(24, 24, 70, 42), 12, 12);
    p.drawPolygon(QPolygonF({QPointF(40, 64), QPointF(52, 64), QPointF(36, 78)}));
    p.setBrush(QColor(255, 190, 80, 150));
    p.drawRoundedRect(QRectF(64, 48, 62, 36), 12, 12);
    p.drawPolygon(QPolygonF({QPointF(104, 82), QPointF(114, 82), QPointF(118, 94)}));

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(36);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 96, 259, 44), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Orvalink"));

    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(14);
    p.setFont(small);
    p.setPen(QColor(220, 235, 255));
    p.drawText(QRect(0, 142, 259, 20), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Version 1.0"));

    p.setPen(QPen(QColor(255, 255, 255, 120), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, 258, 190));
    return image;
}

QImage bottomBar(int id)
{
    constexpr int h = 22;
    const QColor top(236, 236, 240);
    const QColor bottom(200, 200, 210);
    QImage image;
    switch (id) {
    case res::kBitmapBottomBarBack:
        image = blank(32, h, top.rgb());
        break;
    case res::kBitmapBottomBarLeft:
    case res::kBitmapBottomBarRight:
        image = blank(6, h, top.rgb());
        break;
    case res::kBitmapBottomBarGrip:
        image = blank(12, h, top.rgb());
        break;
    default:
        return {};
    }
    QPainter p(&image);
    QLinearGradient face(0, 0, 0, h);
    face.setColorAt(0, top);
    face.setColorAt(1, bottom);
    p.fillRect(image.rect(), face);
    p.setPen(QColor(255, 255, 255));
    p.drawLine(0, 0, image.width() - 1, 0);
    p.setPen(QColor(150, 150, 160));
    p.drawLine(0, h - 1, image.width() - 1, h - 1);
    if (id == res::kBitmapBottomBarLeft) {
        p.drawLine(0, 0, 0, h - 1);
        p.setPen(Qt::white);
        p.drawLine(1, 1, 1, h - 2);
    } else if (id == res::kBitmapBottomBarRight) {
        p.drawLine(5, 0, 5, h - 1);
        p.setPen(Qt::white);
        p.drawLine(4, 1, 4, h - 2);
    } else if (id == res::kBitmapBottomBarGrip) {
        for (int y = 4; y < h - 4; y += 4) {
            for (int x = 3; x < 10; x += 4) {
                p.setPen(QColor(130, 130, 140));
                p.drawPoint(x, y);
                p.setPen(Qt::white);
                p.drawPoint(x + 1, y + 1);
            }
        }
    }
    return image;
}

// A transparent square picture of `size` pixels, drawn by `draw` in units of a 32 x 32 square.
template <typename Draw> QPixmap drawnPixmap(int size, Draw draw)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    draw(p);
    return pixmap;
}

void drawMainIcon(QPainter& p)
{
    p.setPen(QPen(QColor(20, 50, 110), 1.5));
    p.setBrush(QColor(60, 120, 220));
    p.drawRoundedRect(QRectF(1.5, 2.5, 22, 15), 5, 5);
    p.drawPolygon(QPolygonF({QPointF(6, 17), QPointF(11, 17), QPointF(4, 23)}));
    p.setPen(QPen(QColor(130, 70, 0), 1.5));
    p.setBrush(QColor(255, 180, 60));
    p.drawRoundedRect(QRectF(10.5, 12.5, 20, 14), 5, 5);
    p.drawPolygon(QPolygonF({QPointF(23, 26), QPointF(27, 26), QPointF(29, 31)}));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    for (int i = 0; i < 3; ++i)
        p.drawEllipse(QPointF(15.5 + i * 5, 19.5), 1.5, 1.5);
}

void drawWriteIcon(QPainter& p)
{
    p.setPen(QPen(QColor(90, 90, 110), 1.5));
    p.setBrush(QColor(255, 255, 250));
    p.drawRect(QRectF(4.5, 2.5, 19, 26));
    p.setPen(QPen(QColor(150, 160, 190), 1.2));
    for (int y = 8; y <= 22; y += 4)
        p.drawLine(QPointF(8, y), QPointF(20, y));
    // A pencil across the sheet.
    p.translate(24, 14);
    p.rotate(45);
    p.setPen(QPen(QColor(110, 70, 10), 1.2));
    p.setBrush(QColor(250, 200, 40));
    p.drawRect(QRectF(-2.5, -10, 5, 16));
    p.setBrush(QColor(240, 200, 150));
    p.drawPolygon(QPolygonF({QPointF(-2.5, 6), QPointF(2.5, 6), QPointF(0, 11)}));
    p.setBrush(QColor(230, 120, 140));
    p.drawRect(QRectF(-2.5, -13, 5, 3));
}

// The compose window's toolbar: send (a letter with an arrow), save (a letter going into a tray),
// and two buttons that are always shown disabled (an address card and a clip).
void drawComposeSend(QPainter& p)
{
    p.setPen(QPen(QColor(90, 90, 110), 1.5));
    p.setBrush(QColor(255, 255, 245));
    p.drawRect(QRectF(2.5, 8.5, 20, 14));
    p.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(12.5, 16), QPointF(22.5, 8.5)}));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 140, 60));
    p.drawPolygon(QPolygonF({QPointF(18, 18), QPointF(26, 18), QPointF(26, 14), QPointF(31, 21), QPointF(26, 28),
                             QPointF(26, 24), QPointF(18, 24)}));
}

void drawComposeSave(QPainter& p)
{
    p.setPen(QPen(QColor(90, 90, 110), 1.5));
    p.setBrush(QColor(255, 255, 245));
    p.drawRect(QRectF(7.5, 2.5, 17, 12));
    p.drawPolyline(QPolygonF({QPointF(7.5, 2.5), QPointF(16, 9), QPointF(24.5, 2.5)}));
    p.setPen(QPen(QColor(40, 70, 140), 1.5));
    p.setBrush(QColor(120, 160, 230));
    p.drawPolygon(QPolygonF({QPointF(3.5, 18.5), QPointF(28.5, 18.5), QPointF(26.5, 29.5), QPointF(5.5, 29.5)}));
    p.setPen(QPen(QColor(40, 140, 60), 3));
    p.drawLine(QPointF(16, 12), QPointF(16, 21));
}

void drawComposeCard(QPainter& p)
{
    p.setPen(QPen(QColor(90, 90, 110), 1.5));
    p.setBrush(QColor(250, 240, 210));
    p.drawRoundedRect(QRectF(3.5, 6.5, 25, 19), 2, 2);
    p.setBrush(QColor(150, 120, 90));
    p.drawEllipse(QPointF(11, 14), 3, 3);
    p.drawLine(QPointF(17, 12), QPointF(25, 12));
    p.drawLine(QPointF(17, 17), QPointF(25, 17));
    p.drawLine(QPointF(7, 21), QPointF(25, 21));
}

void drawComposeClip(QPainter& p)
{
    p.setPen(QPen(QColor(90, 90, 110), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(10, 3, 10, 26), 5, 5);
    p.drawRoundedRect(QRectF(13, 8, 4, 16), 2, 2);
}

void drawRemoveColumnCursor(QPainter& p)
{
    p.setPen(QPen(Qt::white, 1));
    p.setBrush(Qt::black);
    p.drawPolygon(QPolygonF({QPointF(1, 1), QPointF(1, 15), QPointF(4.5, 11.5), QPointF(7, 17), QPointF(9, 16),
                             QPointF(6.5, 10.5), QPointF(11, 10.5)}));
    // A heading with a cross: the column goes away when dropped here.
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(QColor(230, 230, 230));
    p.drawRect(QRectF(12.5, 16.5, 16, 8));
    p.setPen(QPen(QColor(200, 20, 20), 2.5));
    p.drawLine(QPointF(16, 14), QPointF(25, 27));
    p.drawLine(QPointF(25, 14), QPointF(16, 27));
}

} // namespace

QImage resourceImage(int id)
{
    if (id >= res::kBitmapTreeFirst && id <= res::kBitmapTreeLast)
        return treeImage(id - res::kBitmapTreeFirst);
    switch (id) {
    case res::kBitmapSplash:
        return splash();
    case res::kBitmapBottomBarBack:
    case res::kBitmapBottomBarLeft:
    case res::kBitmapBottomBarRight:
    case res::kBitmapBottomBarGrip:
        return bottomBar(id);
    case res::kBitmapReportImages:
        return reportStrip();
    case res::kBitmapMailToolbar:
        return mailToolbarStrip();
    default:
        return {};
    }
}

QPixmap resourceBitmap(int id)
{
    const QImage image = resourceImage(id);
    if (image.isNull())
        return {};
    return QPixmap::fromImage(image);
}

QColor resourceTransparentColor(int id)
{
    if (id >= res::kBitmapTreeFirst && id <= res::kBitmapTreeLast)
        return QColor(kTreeTransparent);
    if (id == res::kBitmapReportImages)
        return QColor(kReportTransparent);
    if (id == res::kBitmapMailToolbar)
        return QColor(kToolbarTransparent);
    return {};
}

namespace {

using IconDrawing = void (*)(QPainter&);

IconDrawing iconDrawing(int id)
{
    if (id == res::kIconMain)
        return drawMainIcon;
    if (id == res::kIconChatWrite)
        return drawWriteIcon;
    return nullptr;
}

} // namespace

bool drawResourceIcon(int id, QPainter& painter, int size)
{
    const IconDrawing draw = iconDrawing(id);
    if (!draw || size <= 0)
        return false;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    draw(painter);
    painter.restore();
    return true;
}

QImage resourceIconImage(int id, int size)
{
    const IconDrawing draw = iconDrawing(id);
    if (!draw || size <= 0)
        return {};
    return drawnPixmap(size, draw).toImage();
}

QIcon resourceIcon(int id)
{
    const IconDrawing draw = iconDrawing(id);
    if (!draw)
        return {};
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addPixmap(drawnPixmap(size, draw));
    return icon;
}

QList<QIcon> resourceToolbarIcons(int id)
{
    QList<QIcon> icons;
    if (id != res::kToolbarCompose)
        return icons;
    for (void (*draw)(QPainter&) : {drawComposeSend, drawComposeSave, drawComposeCard, drawComposeClip}) {
        QIcon icon;
        for (int size : {16, 24, 32})
            icon.addPixmap(drawnPixmap(size, draw));
        icons.append(icon);
    }
    return icons;
}

QCursor resourceCursor(int id)
{
    if (id == res::kCursorRemoveColumn)
        return QCursor(drawnPixmap(32, drawRemoveColumnCursor), 1, 1);
    return QCursor(Qt::ArrowCursor);
}

QImage maskedImage(const QImage& image, const QColor& transparent)
{
    if (image.isNull() || !transparent.isValid())
        return image;
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = transparent.rgb() & RGB_MASK;
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            if ((line[x] & RGB_MASK) == key)
                line[x] = 0;
        }
    }
    return out;
}

QPixmap maskedPixmap(const QPixmap& pixmap, const QColor& transparent)
{
    if (pixmap.isNull() || !transparent.isValid())
        return pixmap;
    return QPixmap::fromImage(maskedImage(pixmap.toImage(), transparent));
}

QList<QPixmap> imageStrip(const QPixmap& strip, int imageWidth, const QColor& transparent)
{
    QList<QPixmap> images;
    if (strip.isNull() || imageWidth <= 0)
        return images;
    const QImage masked = maskedImage(strip.toImage(), transparent);
    for (int x = 0; x + imageWidth <= masked.width(); x += imageWidth)
        images.append(QPixmap::fromImage(masked.copy(x, 0, imageWidth, masked.height())));
    return images;
}

} // namespace orvalink::res
