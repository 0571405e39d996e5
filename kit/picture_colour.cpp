#include "kit/picture_colour.h"

#include <lcms2.h>

#include <QColorTransform>
#include <QList>
#include <mutex>
#include <utility>

namespace kit::colour {

struct Profile::Transform {
  virtual ~Transform() = default;
  virtual void apply(QImage& image) const = 0;
};

namespace {

#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr cmsUInt32Number kRgb32Pixels = TYPE_BGRA_8;  // 0xAARRGGBB in memory order
#else
constexpr cmsUInt32Number kRgb32Pixels = TYPE_ARGB_8;
#endif

// A profile Qt parses: its transform, made once; Qt builds the curves'
// tables on first use, under its own lock.
class QtTransform final : public Profile::Transform {
 public:
  explicit QtTransform(const QColorSpace& source) : transform_(source.transformationToColorSpace(displaySpace())) {}
  void apply(QImage& image) const override {
    image.applyColorTransform(transform_);
    image.setColorSpace(displaySpace());
  }

 private:
  QColorTransform transform_;
};

// Any other RGB profile, through lcms2. The transform is made on the first
// use, on the worker that decodes; lcms2 transforms may be used by several
// threads at once.
class LcmsTransform final : public Profile::Transform {
 public:
  explicit LcmsTransform(QByteArray icc) : icc_(std::move(icc)) {}
  ~LcmsTransform() override {
    if (transform_ != nullptr) cmsDeleteTransform(transform_);
  }
  LcmsTransform(const LcmsTransform&) = delete;
  LcmsTransform& operator=(const LcmsTransform&) = delete;

  void apply(QImage& image) const override {
    std::call_once(made_, [this] { transform_ = make(); });
    if (transform_ == nullptr || image.isNull()) return;
    if (image.format() == QImage::Format_Indexed8) {
      QList<QRgb> table = image.colorTable();
      cmsDoTransform(transform_, table.constData(), table.data(), static_cast<cmsUInt32Number>(table.size()));
      image.setColorTable(table);
    } else {
      if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)
        image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
      if (image.isNull()) return;
      const auto stride = static_cast<cmsUInt32Number>(image.bytesPerLine());
      cmsDoTransformLineStride(transform_, image.constBits(), image.bits(), static_cast<cmsUInt32Number>(image.width()),
                               static_cast<cmsUInt32Number>(image.height()), stride, stride, 0, 0);
    }
    image.setColorSpace(displaySpace());
  }

 private:
  cmsHTRANSFORM make() const {
    const QByteArray display = displaySpace().iccProfile();
    cmsHPROFILE in = cmsOpenProfileFromMem(icc_.constData(), static_cast<cmsUInt32Number>(icc_.size()));
    cmsHPROFILE out = cmsOpenProfileFromMem(display.constData(), static_cast<cmsUInt32Number>(display.size()));
    cmsHTRANSFORM made = nullptr;
    if (in != nullptr && out != nullptr)
      made = cmsCreateTransform(in, kRgb32Pixels, out, kRgb32Pixels, INTENT_PERCEPTUAL,
                                cmsFLAGS_COPY_ALPHA | cmsFLAGS_NOCACHE);
    if (in != nullptr) cmsCloseProfile(in);
    if (out != nullptr) cmsCloseProfile(out);
    return made;
  }

  QByteArray icc_;
  mutable std::once_flag made_;
  mutable cmsHTRANSFORM transform_ = nullptr;
};

// True when lcms2 reads the profile's header and it describes RGB pixels.
bool isRgbIcc(const QByteArray& icc) {
  cmsHPROFILE profile = cmsOpenProfileFromMem(icc.constData(), static_cast<cmsUInt32Number>(icc.size()));
  if (profile == nullptr) return false;
  const bool rgb = cmsGetColorSpace(profile) == cmsSigRgbData;
  cmsCloseProfile(profile);
  return rgb;
}

}  // namespace

QColorSpace displaySpace() {
  static const QColorSpace space(QColorSpace::SRgb);
  return space;
}

Profile Profile::fromColorSpace(const QColorSpace& space) {
  Profile profile;
  if (space.isValid() && space != displaySpace()) profile.transform_ = std::make_shared<const QtTransform>(space);
  return profile;
}

Profile Profile::fromIcc(const QByteArray& icc) {
  if (icc.isEmpty()) return {};
  const QColorSpace parsed = QColorSpace::fromIccProfile(icc);
  if (parsed.isValid()) return fromColorSpace(parsed);
  // FIXME: grey and CMYK profiles are not applied: the JPEG decoder turns
  // CMYK into RGB before the profile could be used, and Qt 6.4 parses
  // neither kind.
  Profile profile;
  if (isRgbIcc(icc)) profile.transform_ = std::make_shared<const LcmsTransform>(icc);
  return profile;
}

void Profile::convertToDisplay(QImage& image) const {
  if (transform_ && !image.isNull()) transform_->apply(image);
}

}  // namespace kit::colour
