#include "res/ResourceImages.h"

#include "res/ResourceIds.h"

#include <QSet>
#include <gtest/gtest.h>

namespace orvalink::res {

using res::imageStrip;
using res::maskedImage;
using res::maskedPixmap;
using res::resourceBitmap;
using res::resourceCursor;
using res::resourceIcon;
using res::resourceImage;
using res::resourceTransparentColor;

namespace {

struct BitmapCase {
    int id;
    int width;
    int height;
    QColor transparent; // invalid: an opaque bitmap
};

const QColor kRed(255, 0, 0);
const QColor kMagenta(255, 0, 255);
const QColor kToolbarGrey(192, 192, 192);

std::vector<BitmapCase> allBitmaps()
{
    std::vector<BitmapCase> cases = {
        {res::kBitmapSplash, 259, 191, QColor()},
        {res::kBitmapBottomBarBack, 32, 22, QColor()},
        {res::kBitmapBottomBarLeft, 6, 22, QColor()},
        {res::kBitmapBottomBarRight, 6, 22, QColor()},
        {res::kBitmapBottomBarGrip, 12, 22, QColor()},
        {res::kBitmapReportImages, 16 * res::kReportImageCount, 16, kMagenta},
        {res::kBitmapMailToolbar, 16 * res::kMailToolbarImageCount, 15, kToolbarGrey},
    };
    for (int id = 143; id <= 152; ++id)
        cases.push_back({id, 22, 17, kRed});
    return cases;
}

int pixelsOtherThan(const QImage& image, QRgb colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += (image.pixel(x, y) & RGB_MASK) != (colour & RGB_MASK);
    return count;
}

} // namespace

TEST(ResourceImages, EveryBitmapHasItsSizeAndTransparentColour)
{
    for (const BitmapCase& c : allBitmaps()) {
        SCOPED_TRACE(c.id);
        const QImage image = resourceImage(c.id);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(c.width, c.height));
        EXPECT_FALSE(image.hasAlphaChannel());
        EXPECT_EQ(resourceBitmap(c.id).size(), QSize(c.width, c.height));
        EXPECT_EQ(resourceTransparentColor(c.id), c.transparent);
        if (!c.transparent.isValid())
            continue;
        // Painted on the transparent colour: the corners show it exactly, and something is drawn.
        for (const QPoint corner :
             {QPoint(0, 0), QPoint(c.width - 1, 0), QPoint(0, c.height - 1), QPoint(c.width - 1, c.height - 1)})
            EXPECT_EQ(image.pixelColor(corner), c.transparent) << corner.x() << "," << corner.y();
        EXPECT_GT(pixelsOtherThan(image, c.transparent.rgb()), 20);
    }
}

TEST(ResourceImages, TreeImagesAndStripImagesAreDistinctDrawings)
{
    QSet<QByteArray> tree;
    for (int id = res::kBitmapTreeFirst; id <= res::kBitmapTreeLast; ++id) {
        const QImage image = resourceImage(id);
        tree.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
    }
    EXPECT_EQ(tree.size(), res::kBitmapTreeCount);

    const QImage strip = resourceImage(res::kBitmapReportImages);
    QSet<QByteArray> parts;
    for (int i = 0; i < res::kReportImageCount; ++i) {
        const QImage part = strip.copy(i * 16, 0, 16, 16);
        EXPECT_GT(pixelsOtherThan(part, kMagenta.rgb()), 20) << "image " << i;
        parts.insert(QByteArray(reinterpret_cast<const char*>(part.constBits()), part.sizeInBytes()));
    }
    EXPECT_EQ(parts.size(), res::kReportImageCount);

    // The mail toolbar: a distinct picture for every button.
    const QImage buttons = resourceImage(res::kBitmapMailToolbar);
    QSet<QByteArray> faces;
    for (int i = 0; i < res::kMailToolbarImageCount; ++i) {
        const QImage face = buttons.copy(i * 16, 0, 16, 15);
        EXPECT_GT(pixelsOtherThan(face, kToolbarGrey.rgb()), 20) << "button " << i;
        faces.insert(QByteArray(reinterpret_cast<const char*>(face.constBits()), face.sizeInBytes()));
    }
    EXPECT_EQ(faces.size(), res::kMailToolbarImageCount);
}

TEST(ResourceImages, SplashShowsTheProductNameInItsTitleBand)
{
    const QImage splash = resourceImage(res::kBitmapSplash);
    int bright = 0;
    for (int y = 96; y < 140; ++y)
        for (int x = 0; x < splash.width(); ++x) {
            const QColor c = splash.pixelColor(x, y);
            bright += c.red() > 240 && c.green() > 240 && c.blue() > 240;
        }
    EXPECT_GT(bright, 100);
}

TEST(ResourceImages, UnknownIdsGiveNothing)
{
    for (int id : {-1, 0, 1, 127, 138, 140, 142, 153, 186, 191, 206, 230, 232, 32816}) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(resourceImage(id).isNull());
        EXPECT_TRUE(resourceBitmap(id).isNull());
        EXPECT_FALSE(resourceTransparentColor(id).isValid());
    }
    for (int id : {-1, 0, 129, 139, 205, 207}) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(resourceIcon(id).isNull());
    }
    EXPECT_EQ(resourceCursor(105).shape(), Qt::ArrowCursor);
}

TEST(ResourceImages, IconsAndCursorExist)
{
    for (int id : {res::kIconMain, res::kIconChatWrite}) {
        SCOPED_TRACE(id);
        const QIcon icon = resourceIcon(id);
        ASSERT_FALSE(icon.isNull());
        const QList<QSize> sizes = icon.availableSizes();
        EXPECT_TRUE(sizes.contains(QSize(16, 16)));
        EXPECT_TRUE(sizes.contains(QSize(32, 32)));
        // Drawn on a transparent ground: the corner is see-through, the middle is not.
        const QImage image = icon.pixmap(32, 32).toImage();
        EXPECT_EQ(image.pixelColor(0, 31).alpha(), 0);
        EXPECT_GT(pixelsOtherThan(image, 0), 100);
    }
    EXPECT_NE(resourceIcon(res::kIconMain).pixmap(32, 32).toImage(),
              resourceIcon(res::kIconChatWrite).pixmap(32, 32).toImage());

    const QCursor cursor = resourceCursor(res::kCursorRemoveColumn);
    EXPECT_EQ(cursor.shape(), Qt::BitmapCursor);
    EXPECT_FALSE(cursor.pixmap().isNull());
}

TEST(ResourceImages, MaskingClearsExactlyTheTransparentColour)
{
    const QImage person = resourceImage(res::kBitmapTreeFirst + res::kTreeImagePerson);
    const QImage masked = maskedImage(person, kRed);
    ASSERT_EQ(masked.size(), person.size());
    int cleared = 0;
    for (int y = 0; y < person.height(); ++y)
        for (int x = 0; x < person.width(); ++x) {
            const QColor before = person.pixelColor(x, y);
            const QColor after = masked.pixelColor(x, y);
            if (before == kRed) {
                EXPECT_EQ(after.alpha(), 0);
                ++cleared;
            } else {
                EXPECT_EQ(after.alpha(), 255);
                EXPECT_EQ(after.rgb(), before.rgb());
            }
        }
    EXPECT_GT(cleared, 0);
    EXPECT_LT(cleared, person.width() * person.height());

    // A near-red pixel is not the transparent colour.
    QImage nearRed(2, 1, QImage::Format_RGB32);
    nearRed.setPixel(0, 0, qRgb(255, 0, 0));
    nearRed.setPixel(1, 0, qRgb(254, 0, 0));
    const QImage maskedNearRed = maskedImage(nearRed, kRed);
    EXPECT_EQ(maskedNearRed.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(maskedNearRed.pixelColor(1, 0).alpha(), 255);

    // No transparent colour: nothing changes.
    EXPECT_EQ(maskedImage(person, QColor()), person);

    const QImage fromPixmap = maskedPixmap(resourceBitmap(res::kBitmapTreeFirst), kRed).toImage();
    EXPECT_EQ(fromPixmap.pixelColor(0, 0).alpha(), 0);
}

TEST(ResourceImages, StripIsCutIntoWholeMaskedImages)
{
    const QPixmap strip = resourceBitmap(res::kBitmapReportImages);
    struct Case {
        int width;
        int expectedCount;
    };
    for (const Case c : {Case{16, res::kReportImageCount}, Case{30, 2}, Case{16 * res::kReportImageCount, 1},
                         Case{16 * res::kReportImageCount + 1, 0}, Case{0, 0}, Case{-16, 0}}) {
        SCOPED_TRACE(c.width);
        const QList<QPixmap> images = imageStrip(strip, c.width, kMagenta);
        ASSERT_EQ(images.size(), c.expectedCount);
        for (const QPixmap& image : images) {
            EXPECT_EQ(image.size(), QSize(c.width, 16));
            EXPECT_EQ(image.toImage().pixelColor(0, 0).alpha(), 0);
        }
    }
    // Image 4 (a read message) is the fifth 16-pixel cut of the strip.
    const QList<QPixmap> images = imageStrip(strip, 16, kMagenta);
    EXPECT_EQ(images[res::kReportImageRead].toImage().convertToFormat(QImage::Format_ARGB32),
              maskedImage(resourceImage(res::kBitmapReportImages).copy(64, 0, 16, 16), kMagenta)
                  .convertToFormat(QImage::Format_ARGB32));
}

} // namespace orvalink::res
