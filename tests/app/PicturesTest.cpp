// Every picture the window uses loads from the program's resources at the size
// its control has; the JPEG ones prove the JPEG decoder works headless.
#include "app/Pictures.h"

#include <QImage>
#include <QSet>
#include <gtest/gtest.h>

namespace {

struct PictureCase {
    const char* name;
    int width;
    int height;
};

const PictureCase kPictures[] = {
    {"LCDsend", 36, 29},  // JPEG
    {"LCDREL", 24, 24},   // JPEG
    {"KD2", 316, 134},    // JPEG
    {"CONok", 20, 20},
    {"CONokN", 20, 20},
    {"RecordNew", 16, 16},
    {"OpenDataFiles", 16, 16},
    {"saveas", 16, 16},
    {"BtPrint", 16, 16},
    {"BtNew", 16, 16},
    {"BtSave", 16, 16},
    {"BtFirst", 16, 16},
    {"BTPrevious", 16, 16},
    {"BtNext", 16, 16},
    {"BTlast", 16, 16},
    {"TbFd", 25, 25},
    {"TbSx", 25, 25},
    {"Icon", 32, 32},
};

class PictureLoads : public ::testing::TestWithParam<PictureCase> {};

}  // namespace

TEST_P(PictureLoads, AtItsSizeAndNotBlank)
{
    const PictureCase& c = GetParam();
    const QPixmap pixmap = Picture(QString::fromLatin1(c.name));
    ASSERT_FALSE(pixmap.isNull());
    EXPECT_EQ(pixmap.size(), QSize(c.width, c.height));
    const QImage image = pixmap.toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < image.height() && colours.size() < 2; ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    EXPECT_GE(colours.size(), 2) << "a one-colour picture";
}

INSTANTIATE_TEST_SUITE_P(Window, PictureLoads, ::testing::ValuesIn(kPictures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Pictures, UnknownOrPathLikeNamesGiveNullPixmaps)
{
    for (const char* name : {"", "NoSuchPicture", "../fonts/SEGO-A2", "KD2.jpg", "/pictures/KD2"})
        EXPECT_TRUE(Picture(QString::fromLatin1(name)).isNull()) << name;
}

TEST(Pictures, WindowIconHas32PixelImage)
{
    const QIcon icon = WindowIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.pixmap(32, 32).size(), QSize(32, 32));
    EXPECT_EQ(icon.availableSizes(), QList<QSize>{QSize(32, 32)});
}
