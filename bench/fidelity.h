#pragma once
// How true the fitted picture is: its PSNR against a Lanczos resize of the
// full-size decode, beside the same figure for two careful references (the
// DCT-scaled decode the component starts from, resized with Lanczos, and
// Qt's smooth scaling of the full decode). The Lanczos resizes are made by
// ImageMagick (`convert -filter Lanczos -resize`), an implementation
// independent of the component's.
#include <QImage>
#include <string>

namespace bench {

struct Fidelity {
  double fitted = 0;      // dB: the component's fitted picture
  double dctLanczos = 0;  // dB: the DCT-scaled decode resized with Lanczos (the goal's reference)
  double qtSmooth = 0;    // dB: Qt's smooth scaling of the full decode
  std::string error;      // why the figures could not be made
};

// `fitted`: the picture the component holds at fit; `denominator`: the DCT
// scale it decodes at.
Fidelity measureFidelity(const std::string& jpegPath, const QImage& fitted, int denominator);

}  // namespace bench
