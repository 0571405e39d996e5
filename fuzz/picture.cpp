// Fuzz target: picture loading through a photo window's SetImage. The input's
// first byte picks the file name's extension (the reader goes by the content),
// the rest is the file. Each load shows a picture with a positive size, or
// leaves exactly one "Error" box and the earlier picture; the busy cursor is
// always put back.
#include "kit/picture.h"

#include <QImageReader>
#include <fstream>

#include "component/basView.h"
#include "fuzz/fuzz_support.h"
#include "kit/controls.h"
#include "kit/platform.h"
#include "korvena/Application.h"
#include "photo/frmPhoto.h"

namespace {

namespace fs = std::filesystem;

[[noreturn]] void fault(const char* what) { fuzz::fault("picture", what); }

fs::path folder;
std::unique_ptr<korvena::Application> app;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  folder = fuzz::scratchFolder("picture");
  // A small decoding limit keeps runs quick; the budget logic is the same at any limit.
  QImageReader::setAllocationLimit(32);
  korvena::ResetComponent();
  app = std::make_unique<korvena::Application>();
  app->srcAppName("KorvenaFuzz");
  app->Style("pbMDILoading");
  app->ShowForm();
  app->OpenImage((folder / "none.png").string(), "none.png");
  kit::platform().takeEvents();
  std::atexit([] {
    app.reset();
    korvena::ResetComponent();
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const extensions[] = {".png", ".jpg", ".gif",  ".bmp", ".ppm", ".pgm",
                                           ".pbm", ".tif", ".webp", ".ico", ".txt", ""};
  if (size == 0) return 0;
  const std::string name = std::string("input") + extensions[data[0] % std::size(extensions)];
  const std::string path = (folder / name).string();
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  korvena::frmPhoto* window = korvena::loadedPhotoWindow(1);
  if (!window) fault("the photo window is gone");
  kit::ImageControl& pic = window->c().picPhoto;
  const auto before = pic.picture();
  const bool shown = window->SetImage(path);
  int errorBoxes = 0, otherBoxes = 0;
  for (const kit::PlatformEvent& e : kit::platform().takeEvents())
    if (e.kind == kit::PlatformEvent::Kind::MessageBox)
      (e.title == "Error" && !e.text.empty() ? errorBoxes : otherBoxes)++;
  if (otherBoxes != 0) fault("a message box other than an error");
  if (kit::platform().mousePointer() != 0 && !shown) fault("the busy cursor stays after a failure");
  if (shown) {
    if (errorBoxes != 0) fault("an error box for a picture that shows");
    const auto now = pic.picture();
    if (!now || now->widthPixels() <= 0 || now->heightPixels() <= 0) fault("a shown picture without a size");
  } else {
    if (errorBoxes != 1) fault("a failed load without exactly one error box");
    if (pic.picture() != before) fault("a failed load changed the picture");
  }
  fs::remove(path);
  return 0;
}
