// The shipped LCD font: it loads from the program's resources, carries every
// character the panel, the grid and the report write, and draws the digits so
// that they fit the panel's digit places.
#include "display/LcdFont.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>
#include <gtest/gtest.h>

namespace {

QRawFont RawLcdFont(int pixelHeight)
{
    QRawFont raw = QRawFont::fromFont(LcdFont(pixelHeight));
    EXPECT_TRUE(raw.isValid());
    return raw;
}

QPainterPath Outline(const QRawFont& raw, QChar ch)
{
    const QList<quint32> glyphs = raw.glyphIndexesForString(QString(ch));
    return glyphs.size() == 1 ? raw.pathForGlyph(glyphs.first()) : QPainterPath();
}

// Draws text black on white and returns the picture.
QImage Render(const QString& text, int pixelHeight, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(LcdFont(pixelHeight));
    painter.setPen(Qt::black);
    painter.drawText(QRect(QPoint(0, 0), size), Qt::AlignLeft | Qt::AlignTop, text);
    return image;
}

int DarkPixels(const QImage& image)
{
    int dark = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            dark += qGray(image.pixel(x, y)) < 128;
    return dark;
}

}  // namespace

TEST(LcdFont, LoadsFromResourcesAsSegoA2)
{
    EXPECT_EQ(LcdFontFamily(), "SEGO-A2");
    EXPECT_EQ(LcdFontFamily(), "SEGO-A2");  // a second call reuses the loaded font
    const QFont font = LcdFont(24, true);
    EXPECT_EQ(font.pixelSize(), 24);
    EXPECT_TRUE(font.bold());
    EXPECT_EQ(QFontInfo(font).family(), "SEGO-A2");  // matched, not a fallback
}

TEST(LcdFont, NonPositiveHeightIsClampedNotRejected)
{
    EXPECT_EQ(LcdFont(0).pixelSize(), 1);
    EXPECT_EQ(LcdFont(-5).pixelSize(), 1);
}

TEST(LcdFont, HasEveryCharacterThePanelGridAndReportWrite)
{
    const QRawFont raw = RawLcdFont(40);
    const QString required = QStringLiteral(
        "0123456789"
        "\"$&)+*#?@"  // hold, battery, beeper, diode, micro, ohm, C, F, overload L
        "Auto range DC AC MIN: MAX: nmkMVAFHz% uA -.:L"
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    for (const QChar ch : required) {
        SCOPED_TRACE(QString(ch).toStdString());
        EXPECT_TRUE(raw.supportsCharacter(ch));
        if (ch != u' ') {
            EXPECT_FALSE(Outline(raw, ch).isEmpty());
        }
    }
}

TEST(LcdFont, PlusIsMicroAndUStaysAPlainU)
{
    const QRawFont raw = RawLcdFont(100);
    // micro has a tail below the baseline; the u of "Auto range" has none
    EXPECT_GT(Outline(raw, u'+').boundingRect().bottom(), 5.0);
    EXPECT_LE(Outline(raw, u'u').boundingRect().bottom(), 5.0);
}

// The panel puts each digit in a 38 x 112 label with a 100 px font, and the
// overload shows "0" and "@" in those places.
TEST(LcdFont, DigitsFitThePanelPlacesAndDiffer)
{
    const QFontMetrics metrics(LcdFont(100));
    EXPECT_EQ(metrics.height(), 112);
    QList<QImage> seen;
    for (const QChar ch : QStringLiteral("0123456789@-")) {
        SCOPED_TRACE(QString(ch).toStdString());
        const QRect ink = metrics.boundingRect(ch);
        EXPECT_GE(ink.left(), 0);
        EXPECT_LE(ink.right(), 38);
        EXPECT_GE(ink.top(), -metrics.ascent());
        EXPECT_LE(ink.bottom(), metrics.descent());
        const QImage image = Render(QString(ch), 100, QSize(40, 112));
        EXPECT_GT(DarkPixels(image), 60);  // even the one-bar minus
        for (const QImage& other : seen)
            EXPECT_NE(image, other);
        seen.append(image);
    }
}
