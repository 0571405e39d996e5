// Loading pictures from files: the decoding budget and colour profiles
// (unreadable files are the hostile-image tests'). Test pictures are written
// at run time.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <QByteArray>
#include <QColorSpace>
#include <QImage>
#include <QImageReader>
#include <optional>
#include <string>

#include "kit/picture.h"
#include "kit/picture_impl.h"
#include "korvena/RuntimeError.h"
#include "picture_test_helpers.h"

namespace {

using picture_test::AllocationLimit;
using picture_test::encode;
using picture_test::scene;
using picture_test::withIccProfile;

// ProPhoto primaries and a 1.8 gamma over a Lab connection space: Qt 6.4
// does not read such a profile, lcms2 does.
QByteArray labProPhotoProfile() {
  const cmsCIExyY white{0.3457, 0.3585, 1};
  const cmsCIExyYTRIPLE primaries{{0.7347, 0.2653, 1}, {0.1596, 0.8404, 1}, {0.0366, 0.0001, 1}};
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, 1.8);
  cmsToneCurve* curves[3] = {gamma, gamma, gamma};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsSetPCS(profile, cmsSigLabData);
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  QByteArray bytes(static_cast<qsizetype>(size), '\0');
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  cmsFreeToneCurve(gamma);
  return bytes;
}

using PictureTest = picture_test::PictureFiles;

}  // namespace

TEST_F(PictureTest, EmbeddedProfilesShowInSrgbAndUntaggedPixelsStayExact) {
  // ProPhoto (40, 160, 80) is sRGB (0, 191, 79).
  QImage flat(64, 48, QImage::Format_RGB32), big(1000, 600, QImage::Format_RGB32);
  flat.fill(qRgb(40, 160, 80));
  big.fill(qRgb(40, 160, 80));
  const QByteArray jpeg = encode(flat, "jpeg");
  const QByteArray proPhoto = QColorSpace(QColorSpace::ProPhotoRgb).iccProfile();
  QImage proPhotoPng = flat, srgbPng = flat;
  proPhotoPng.setColorSpace(QColorSpace::ProPhotoRgb);
  srgbPng.setColorSpace(QColorSpace::SRgb);
  const QRgb converted = qRgb(0, 191, 79);
  const QRgb untaggedJpeg = QImage::fromData(jpeg).pixel(32, 24);  // Qt's reader applies no profile
  struct Case {
    const char* name;
    QByteArray bytes;
    QSize shown;  // the natural size when null
    QRgb expected;
    int tolerance;
    bool tiled = false;  // over a 1 MB allocation limit: painted from tiles
  };
  for (const Case& c :
       {Case{"ProPhoto JPEG, profile in 3 APP2 segments", withIccProfile(jpeg, proPhoto, 200), {}, converted, 4},
        Case{"ProPhoto JPEG, shrunk", withIccProfile(jpeg, proPhoto), {16, 12}, converted, 4},
        Case{"ProPhoto JPEG, tiles", withIccProfile(encode(big, "jpeg"), proPhoto), {}, converted, 4, true},
        Case{"ProPhoto JPEG, Lab profile", withIccProfile(jpeg, labProPhotoProfile()), {}, converted, 4},
        Case{"ProPhoto PNG", encode(proPhotoPng, "png"), {}, converted, 4},
        Case{"untagged JPEG", jpeg, {}, untaggedJpeg, 0},
        Case{"untagged PNG", encode(flat, "png"), {}, qRgb(40, 160, 80), 0},
        Case{"sRGB PNG", encode(srgbPng, "png"), {}, qRgb(40, 160, 80), 0}}) {
    SCOPED_TRACE(c.name);
    std::optional<AllocationLimit> limit;
    if (c.tiled) limit.emplace(1);
    const auto picture = kit::Picture::open(write("colour", c.bytes));
    const QSize shown = c.shown.isEmpty() ? QSize(picture->widthPixels(), picture->heightPixels()) : c.shown;
    ASSERT_TRUE(picture->ensureDecoded(shown.width(), shown.height()));
    // What a view paints: the picture at the shown size, or a 512-pixel tile.
    const auto pieces = picture->impl().pieces(shown, QRect(QPoint(0, 0), shown), false);
    ASSERT_FALSE(pieces.empty());
    const QImage& image = pieces.front().image;
    ASSERT_EQ(image.size(), c.tiled ? QSize(512, 512) : shown);
    const QRgb got = image.pixel(image.width() / 2, image.height() / 2);
    EXPECT_LE(std::max({std::abs(qRed(got) - qRed(c.expected)), std::abs(qGreen(got) - qGreen(c.expected)),
                        std::abs(qBlue(got) - qBlue(c.expected))}),
              c.tolerance)
        << std::hex << got;
  }
}

TEST_F(PictureTest, PicturesPastQtsAllocationLimitOpenAtTheShownSize) {
  // With an 8 MB limit a 16-bit 1200 x 1000 PNG (9.6 MB) is what a 6000 x
  // 4000 one is at Qt's default: the read must pass the limit, within our budget.
  const AllocationLimit limit(8);
  QImage deep(1200, 1000, QImage::Format_RGBA64);
  for (int y = 0; y < deep.height(); ++y)
    for (int x = 0; x < deep.width(); ++x) deep.setPixelColor(x, y, QColor::fromRgba64(x * 54, y * 65, 40000));
  const QImage bmp = scene(1600, 1200);  // 7.7 MB: over the budget below the limit
  for (const auto& [name, bytes] :
       {std::pair{"deep.png", encode(deep, "png")}, std::pair{"wide.bmp", encode(bmp, "bmp")}}) {
    SCOPED_TRACE(name);
    const auto picture = kit::Picture::open(write(name, bytes));
    const QSize natural(picture->widthPixels(), picture->heightPixels());
    ASSERT_TRUE(picture->ensureDecoded(natural.width() / 3, natural.height() / 3)) << picture->lastError();
    EXPECT_EQ(picture->impl().image.size(), natural / 3);
    ASSERT_TRUE(picture->ensureDecoded(natural.width(), natural.height())) << picture->lastError();
    EXPECT_EQ(picture->impl().image.size(), natural);
    EXPECT_EQ(picture->impl().image.depth(), 32);  // eight bits a channel are held
  }
}

TEST_F(PictureTest, OnlyWhatCannotFitTheBudgetIsRefusedSayingSo) {
  // 8 MB shared: a read may take 4 MB, a picture is held at up to 2 MB.
  const picture_test::MemoryBudget budget(8 << 20);
  const auto fits = kit::Picture::load(write("fits.bmp", encode(scene(1000, 700), "bmp")));
  EXPECT_EQ(fits->impl().image.size(), QSize(500, 350));  // halved to be held
  try {
    kit::Picture::load(write("huge.bmp", encode(scene(1200, 1000), "bmp")));
    ADD_FAILURE() << "a read over the budget was let through";
  } catch (const korvena::RuntimeError& e) {
    EXPECT_EQ(e.number(), kit::kInvalidPictureError);
    EXPECT_NE(e.description().find("too large"), std::string::npos) << e.description();
  }
}
