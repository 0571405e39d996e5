// korvena-bench: how fast big photos open and how much memory they hold.
//
// Makes its own photo-like test pictures (once, in the picture folder), then
// for each one times OpenImage on the headless platform, fitted to a
// 1024 x 768 screen, at 100 % and at 1600 %, against two references: the
// decode limit (libjpeg decoding the same file in this process at the
// smallest DCT scale that covers the shown size) and the naive viewer (a
// plain full-size QImageReader read). Peak resident memory is measured in
// child processes of this program, one case each. Then two figures with
// their references: the fitted 24 MP JPEG's PSNR against a Lanczos resize
// of the full decode (bench/fidelity.*), and the fitted 24 MP PNG against
// the naive read.
//
// It also times the settings store (--only store: that alone) and the fitted
// open of a photo with a colour profile against one without (--only colour).
//
// And the first view of the 24 MP photo at 100 % and the pans to its corners
// against djpeg's full decode (--only region: that alone).
//
// --only png: the fitted 24 MP PNG against the naive read, alone.
//
//   korvena-bench [--pictures DIR] [--runs N] [--only NAME] [--no-memory] [--warm]
#include <malloc.h>

#include <QColorSpace>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/fidelity.h"
#include "bench/photos.h"
#include "bench/store.h"
#include "component/basView.h"
#include "kit/picture.h"
#include "kit/picture_impl.h"
#include "kit/platform.h"
#include "korvena/Application.h"
#include "photo/frmPhoto.h"
#include "store/registry_store.h"
#include "toolbar/frmNavToolbar.h"

// clang-format off
#include <jpeglib.h>
// clang-format on

namespace fs = std::filesystem;

namespace {

struct TestPicture {
  std::string name;
  std::string file;
  int width;  // stored size
  int height;
  bool png = false;
  int orientation = 1;
};

std::vector<TestPicture> testPictures() {
  return {
      {"2 MP JPEG", "photo-2mp.jpg", 1728, 1152},
      {"12 MP JPEG", "photo-12mp.jpg", 4240, 2832},
      {"24 MP JPEG", "photo-24mp.jpg", 6000, 4000},
      {"50 MP JPEG", "photo-50mp.jpg", 8688, 5792},
      {"24 MP PNG", "photo-24mp.png", 6000, 4000, true},
      {"12 MP JPEG, EXIF 6", "photo-12mp-turned.jpg", 4000, 3000, false, 6},
      {"12000 x 12000 JPEG", "photo-12000.jpg", 12000, 12000},
  };
}

long statusKilobytes(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  return -1;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// A measured operation: its times in milliseconds, and whether it worked.
struct Series {
  explicit Series(std::function<bool()> operation) : run(std::move(operation)) {}
  std::function<bool()> run;
  std::vector<double> times;
  bool ok = true;
};

// Runs the operations round by round, one warm-up round first: under a load
// that comes and goes, each sees the same share of it, so their ratios hold.
// Before each run, untimed, `settle` lets go of what the last one held, so
// that every run starts from the same state (its memory new to it, as when
// a viewer opens a photo).
void measure(int runs, const std::vector<Series*>& series, const std::function<void()>& settle) {
  for (Series* s : series) {
    settle();
    s->ok = s->run();
  }
  for (int i = 0; i < runs; ++i) {
    for (Series* s : series) {
      if (!s->ok) continue;
      settle();
      QElapsedTimer timer;
      timer.start();
      s->ok = s->run();
      s->times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
  }
}

// ---- the references ----

// libjpeg's plain decode of the whole file at 1/denominator into 4-byte pixels.
bool libjpegDecode(const std::string& path, int denominator) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::setvbuf(file, nullptr, _IOFBF, 256 * 1024);
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, file);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.scale_num = 1;
  cinfo.scale_denom = static_cast<unsigned>(denominator);
  cinfo.out_color_space = JCS_EXT_BGRA;
  jpeg_start_decompress(&cinfo);
  const std::size_t stride = static_cast<std::size_t>(cinfo.output_width) * 4;
  // Not zeroed: the decoder writes every byte.
  const std::unique_ptr<unsigned char[]> pixels(new unsigned char[stride * cinfo.output_height]);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = pixels.get() + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(file);
  return true;
}

bool naiveRead(const std::string& path) {
  QImageReader reader(QString::fromStdString(path));
  reader.setAutoTransform(true);
  return !reader.read().isNull();
}

// The largest of 8, 4, 2, 1 whose decode covers `shown` (both in displayed orientation).
int coveringDenominator(QSize natural, QSize shown) {
  for (int d = 8; d > 1; d /= 2)
    if ((natural.width() + d - 1) / d >= shown.width() && (natural.height() + d - 1) / d >= shown.height()) return d;
  return 1;
}

// ---- the component ----

class Component {
 public:
  explicit Component(const fs::path& store) {
    fs::create_directories(store);
    korvena::reg::setDefaultFolder(store.string());
    korvena::ResetComponent();
    kit::platform().setScreenSize(1024 * kit::kTwipsPerPixel, 768 * kit::kTwipsPerPixel);
    app_.srcAppName("KorvenaBench");
    app_.Style("pbMDILoading");
    app_.ShowForm();
  }
  ~Component() { korvena::ResetComponent(); }

  void newWindows() { korvena::NavToolbar().c().Toolbar.userClick(korvena::buttons::kNewWindow); }
  void setRate(const std::string& rate) { korvena::NavToolbar().c().cboZoomRate.setText(rate); }

  // Opens in a fresh window; true when it shows the picture with no error box.
  bool open(const std::string& path) {
    korvena::ResetPhotoWindows();
    kit::platform().collectGarbage();
    kit::platform().takeEvents();
    return openMore(path);
  }
  bool openMore(const std::string& path) {
    app_.OpenImage(path, fs::path(path).filename().string());
    for (const auto& e : kit::platform().takeEvents())
      if (e.kind == kit::PlatformEvent::Kind::MessageBox) return false;
    return current() != nullptr && current()->c().picPhoto.picture() != nullptr;
  }

  korvena::frmPhoto* current() { return korvena::loadedPhotoWindow(korvena::view().CurrentIndex); }
  QSize shown() {
    const auto& pic = current()->c().picPhoto;
    return {kit::Picture::pixelsFromTwips(pic.width()), kit::Picture::pixelsFromTwips(pic.height())};
  }
  QSize view() {
    const auto& form = current()->c().picForm;
    return {kit::Picture::pixelsFromTwips(form.width()), kit::Picture::pixelsFromTwips(form.height())};
  }
  // Paints what the view shows with the picture at `offset` (pixels), as the
  // Qt view does: only the visible part, from the picture's pieces.
  void paintView(QPoint offset) {
    const QSize viewSize = view();
    QImage canvas(viewSize.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    QPainter painter(&canvas);
    painter.translate(-offset);
    kit::Picture& picture = *current()->c().picPhoto.picture();
    for (const kit::PicturePiece& piece : picture.impl().pieces(shown(), QRect(offset, viewSize), false)) {
      painter.setRenderHint(QPainter::SmoothPixmapTransform, piece.source.width() > piece.target.width());
      painter.drawImage(piece.target, piece.image, piece.source);
    }
  }

 private:
  korvena::Application app_;
};

// ---- memory, in a child process per case ----

void printMemory(const char* label) {
  std::printf("%s rss_kb=%ld peak_kb=%ld\n", label, statusKilobytes("VmRSS:"), statusKilobytes("VmHWM:"));
  std::fflush(stdout);
}

int childWindows(const fs::path& store, const std::string& path, int count, const std::string& rate) {
  Component component(store);
  component.setRate(rate);
  component.newWindows();
  printMemory("base");
  for (int i = 0; i < count; ++i)
    if (!component.openMore(path)) {
      std::printf("failed at window %d\n", i + 1);
      return 1;
    }
  printMemory("done");
  return 0;
}

int childZoom(const fs::path& store, const std::string& path, const std::string& rate) {
  Component component(store);
  component.setRate(rate);
  printMemory("base");
  if (!component.open(path)) {
    std::printf("failed\n");
    return 1;
  }
  component.paintView(QPoint(0, 0));
  printMemory("first-view");
  // Pan along the diagonal, painting each view, as a user scrolling through.
  const QSize shown = component.shown();
  const QSize view = component.view();
  constexpr int kSteps = 24;
  for (int i = 1; i <= kSteps; ++i)
    component.paintView(QPoint(std::max(0, shown.width() - view.width()) * i / kSteps,
                               std::max(0, shown.height() - view.height()) * i / kSteps));
  printMemory("panned");
  return 0;
}

struct Memory {
  std::map<std::string, std::pair<long, long>> at;  // label -> rss, peak (kB)
  bool ok = false;
};

Memory runChild(const QStringList& args) {
  QProcess child;
  child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  child.start(QCoreApplication::applicationFilePath(), args);
  Memory memory;
  if (!child.waitForFinished(-1)) return memory;
  for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
    char label[32];
    long rss = 0, peak = 0;
    if (std::sscanf(line.constData(), "%31s rss_kb=%ld peak_kb=%ld", label, &rss, &peak) == 3)
      memory.at[label] = {rss, peak};
  }
  memory.ok = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
  return memory;
}

double mb(long kilobytes) { return kilobytes / 1024.0; }

// ---- the report ----

std::string fixed(double v, int digits = 1) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", digits, v);
  return text;
}

struct Timing {
  double ms = 0;
  bool ok = false;
};

Timing timingOf(const Series& s) { return {median(s.times), s.ok && !s.times.empty()}; }

struct Row {
  TestPicture picture;
  double fileMb = 0;
  QSize natural;
  QSize fitShown;
  int fitScale = 1;
  Timing limitFit, limitFull, naive, fit, full, fullView, zoom, zoomView, corner;
  bool naiveLimitLifted = false;
};

std::string ratio(const Timing& a, const Timing& b) {
  if (!a.ok || !b.ok || b.ms <= 0) return "-";
  return fixed(a.ms / b.ms, 2);
}

std::string ms(const Timing& t) { return t.ok ? fixed(t.ms, 1) : "fails"; }

// ---- decoding what is shown: the 24 MP photo at 100 % ----

// The views' corners other than the first, as offsets of the picture.
std::vector<std::pair<const char*, QPoint>> corners(QSize shown, QSize view) {
  const int right = std::max(0, shown.width() - view.width()), bottom = std::max(0, shown.height() - view.height());
  return {{"top right", QPoint(right, 0)}, {"bottom left", QPoint(0, bottom)}, {"bottom right", QPoint(right, bottom)}};
}

// Opens at 100 % and paints the first view, then each corner: peak memory after each.
int childRegions(const fs::path& store, const std::string& path) {
  Component component(store);
  component.setRate("100%");
  printMemory("base");
  if (!component.open(path)) return 1;
  component.paintView(QPoint(0, 0));
  printMemory("first-view");
  for (const auto& [name, at] : corners(component.shown(), component.view())) component.paintView(at);
  printMemory("corners");
  return 0;
}

// djpeg's full decode of the file (its output thrown away): the reference.
bool djpegDecode(const std::string& path) {
  QProcess djpeg;
  djpeg.setStandardOutputFile(QProcess::nullDevice());
  djpeg.start("djpeg", {QString::fromStdString(path)});
  return djpeg.waitForFinished(-1) && djpeg.exitStatus() == QProcess::NormalExit && djpeg.exitCode() == 0;
}

// The first view at 100 % (open and paint), and a pan from it to each corner
// (the corner's paint alone), against djpeg's full decode, round by round.
void regionFigures(const fs::path& store, const std::string& path, int runs, bool memory) {
  std::vector<double> djpeg, first;
  std::map<std::string, std::vector<double>> pans;
  bool ok = true;
  {
    Component component(store);
    component.setRate("100%");
    auto settle = [] {
      korvena::ResetPhotoWindows();
      kit::platform().collectGarbage();
      ::malloc_trim(0);
    };
    auto timed = [](const std::function<bool()>& run, std::vector<double>& into) {
      QElapsedTimer timer;
      timer.start();
      const bool worked = run();
      into.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
      return worked;
    };
    auto openFirst = [&] {
      if (!component.open(path)) return false;
      component.paintView(QPoint(0, 0));
      return true;
    };
    for (int round = 0; round <= runs && ok; ++round) {  // round 0 warms up
      std::vector<double> scratch;
      settle();
      ok = ok && timed([&] { return djpegDecode(path); }, round == 0 ? scratch : djpeg);
      settle();
      ok = ok && timed(openFirst, round == 0 ? scratch : first);
      for (const auto& [name, at] : corners(component.shown(), component.view())) {
        settle();
        ok = ok && openFirst();
        timed(
            [&, at = at] {
              component.paintView(at);
              return true;
            },
            round == 0 ? scratch : pans[name]);
      }
    }
    settle();
  }
  std::printf("Decode what is shown: the 24 MP photo at 100 %% on the 1024 x 768 screen (median of %d runs)\n", runs);
  if (!ok) {
    std::printf("  FAILED (djpeg missing or the photo did not open)\n\n");
    return;
  }
  const double reference = median(djpeg), view = median(first);
  std::printf("  djpeg's full decode: %s ms\n", fixed(reference).c_str());
  std::printf("  first view (open and paint): %s ms = %s x (goal <= 0.35) %s\n", fixed(view).c_str(),
              fixed(view / reference, 2).c_str(), view <= 0.35 * reference ? "met" : "MISSED");
  double worst = 0;
  for (const auto& [name, at] : corners(QSize(1, 1), QSize(1, 1))) {
    const double pan = median(pans[name]);
    worst = std::max(worst, pan);
    std::printf("  pan to the %-12s painted in %s ms = %s x\n", name, fixed(pan).c_str(),
                fixed(pan / reference, 2).c_str());
  }
  std::printf("  slowest pan to a corner: %s x (goal <= 0.7) %s\n", fixed(worst / reference, 2).c_str(),
              worst <= 0.7 * reference ? "met" : "MISSED");
  if (memory) {
    const Memory m = runChild({"--child-regions", QString::fromStdString(path)});
    auto peak = [&](const char* label) { return m.at.count(label) ? mb(m.at.at(label).second) : 0.0; };
    std::printf(
        "  peak resident memory: first view %s MB (goal <= 60) %s; after the three corners %s MB (%s MB before "
        "opening)%s\n",
        fixed(peak("first-view")).c_str(), m.ok && peak("first-view") <= 60 ? "met" : "MISSED",
        fixed(peak("corners")).c_str(), fixed(peak("base")).c_str(), m.ok ? "" : "  FAILED");
  }
  std::printf("\n");
}

// ---- colour management ----

// Copies a JPEG with a ProPhoto RGB profile inserted after its start-of-image
// marker, in one APP2 segment.
bool withProPhotoProfile(const fs::path& from, const fs::path& to) {
  QFile in(QString::fromStdString(from.string()));
  if (!in.open(QIODevice::ReadOnly)) return false;
  const QByteArray jpeg = in.readAll();
  const QByteArray icc = QColorSpace(QColorSpace::ProPhotoRgb).iccProfile();
  const auto length = static_cast<int>(icc.size()) + 16;  // length field, name, sequence number, count
  QByteArray segment("\xFF\xE2", 2);
  segment.append(static_cast<char>(length >> 8)).append(static_cast<char>(length & 0xFF));
  segment.append("ICC_PROFILE\0\x01\x01", 14).append(icc);
  QFile out(QString::fromStdString(to.string()));
  return out.open(QIODevice::WriteOnly) && out.write(jpeg.left(2) + segment + jpeg.mid(2)) > 0;
}

// The fitted open of the 24 MP JPEG with a ProPhoto profile (converted to
// sRGB as it decodes) against the same file without it.
bool colourBench(const fs::path& pictures, const fs::path& store, int runs) {
  const fs::path plain = pictures / "photo-24mp.jpg";
  const fs::path tagged = pictures / "photo-24mp-prophoto.jpg";
  if (!fs::exists(tagged) && !withProPhotoProfile(plain, tagged)) return false;
  Component component(store);
  component.setRate(korvena::kFitToWindow);
  Series untagged{[&] { return component.open(plain.string()); }};
  Series prophoto{[&] { return component.open(tagged.string()); }};
  measure(runs, {&untagged, &prophoto}, [] {
    korvena::ResetPhotoWindows();
    kit::platform().collectGarbage();
  });
  const Timing without = timingOf(untagged), with = timingOf(prophoto);
  const bool met = without.ok && with.ok && with.ms <= 1.1 * without.ms;
  std::printf(
      "Colour profile: the 24 MP JPEG with a ProPhoto RGB profile opens at fit in %s ms, without it in %s ms:\n"
      "  x%s (goal <= 1.1) %s\n\n",
      ms(with).c_str(), ms(without).c_str(), ratio(with, without).c_str(), met ? "met" : "MISSED");
  return met;
}

// The fitted open of the 24 MP PNG against a plain full QImageReader read of it.
bool pngBench(const fs::path& png, const fs::path& store, int runs) {
  Component component(store);
  component.setRate("Fit to Window");
  Series fit{[&] { return component.open(png.string()); }};
  Series naive{[&] { return naiveRead(png.string()); }};
  measure(runs, {&fit, &naive}, [] {
    korvena::ResetPhotoWindows();
    kit::platform().collectGarbage();
    ::malloc_trim(0);
  });
  const Timing fitted = timingOf(fit), read = timingOf(naive);
  const bool met = fitted.ok && read.ok && fitted.ms <= 0.5 * read.ms;
  std::printf("Fitted 24 MP PNG: %s ms, %s x a plain full QImageReader read (%s ms) (goal <= 0.5) %s\n",
              ms(fitted).c_str(), ratio(fitted, read).c_str(), ms(read).c_str(), met ? "met" : "MISSED");
  return met;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication qapp(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  fs::path pictures = fs::current_path() / "bench-pictures";
  int runs = 5;
  QString only;
  bool memory = true;
  // Warm: freed memory stays with the process and is used again, so that the
  // times leave out the kernel's cost of handing out new pages.
  bool warm = false;
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == "--pictures" && i + 1 < args.size())
      pictures = args[++i].toStdString();
    else if (args[i] == "--runs" && i + 1 < args.size())
      runs = std::max(1, args[++i].toInt());
    else if (args[i] == "--only" && i + 1 < args.size())
      only = args[++i];
    else if (args[i] == "--no-memory")
      memory = false;
    else if (args[i] == "--warm")
      warm = true;
  }
  const fs::path store = fs::temp_directory_path() / ("korvena-bench-" + std::to_string(::getpid()));
  struct Cleanup {
    fs::path dir;
    ~Cleanup() {
      std::error_code ignored;
      fs::remove_all(dir, ignored);
    }
  } cleanup{store};

  if (args.size() >= 4 && args[1] == "--child-windows")
    return childWindows(store, args[2].toStdString(), args[3].toInt(),
                        args.size() >= 5 ? args[4].toStdString() : korvena::kFitToWindow);
  if (args.size() >= 4 && args[1] == "--child-zoom")
    return childZoom(store, args[2].toStdString(), args[3].toStdString());
  if (args.size() >= 3 && args[1] == "--child-regions") return childRegions(store, args[2].toStdString());
  if (only == "store") return bench::storeBench(store, runs) ? 0 : 1;

  // The pictures, made once.
  fs::create_directories(pictures);
  for (const TestPicture& p : testPictures()) {
    if (only == "colour" && p.file != "photo-24mp.jpg") continue;
    if (only == "png" && !p.png) continue;
    const fs::path file = pictures / p.file;
    if (fs::exists(file) && fs::file_size(file) > 0) continue;
    std::fprintf(stderr, "making %s ...\n", file.c_str());
    const fs::path partial = file.string() + ".part";
    const bool made = p.png ? bench::writePng(partial, p.width, p.height, 7)
                            : bench::writeJpeg(partial, p.width, p.height, 7, p.orientation);
    if (!made) return 1;
    fs::rename(partial, file);
  }
  if (only == "colour") return colourBench(pictures, store, runs) ? 0 : 1;
  if (only == "png") return pngBench(pictures / "photo-24mp.png", store, runs) ? 0 : 1;
  // For the many-windows peak and the scan bomb (from the clean progressive photo).
  const std::string photo12 = (pictures / "photo-12mp.jpg").string();
  const std::string progressive = (pictures / "progressive-8000.jpg").string();
  const std::string bomb = (pictures / "scan-bomb.jpg").string();
  if (!fs::exists(photo12) && !bench::writeJpeg(photo12, 4000, 3000, 11)) return 1;
  if (!fs::exists(progressive) && !bench::writeJpeg(progressive, 8000, 8000, 13, 1, true)) return 1;
  if (!fs::exists(bomb) && !bench::writeRepeatedScan(progressive, bomb, 10000)) return 1;

  if (warm) {
    ::mallopt(M_MMAP_THRESHOLD, 1 << 30);
    ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
  }
  std::printf("Korvena benchmark: OpenImage on the headless platform, screen 1024 x 768, median of %d runs\n", runs);
  std::printf("Memory: %s\n", warm ? "warm (freed memory is used again: no new pages)"
                                   : "cold (each run starts with its memory new to it)");
  std::printf("Qt %s, allocation limit %d MB\n\n", qVersion(), QImageReader::allocationLimit());

  if (only.isEmpty() || only == "region") regionFigures(store, (pictures / "photo-24mp.jpg").string(), runs, memory);
  if (only == "region") return 0;

  std::vector<Row> rows;
  {
    Component component(store);
    for (const TestPicture& p : testPictures()) {
      if (!only.isEmpty() && !QString::fromStdString(p.file).contains(only)) continue;
      Row row;
      row.picture = p;
      const std::string path = (pictures / p.file).string();
      row.fileMb = static_cast<double>(fs::file_size(path)) / (1024.0 * 1024.0);
      std::fprintf(stderr, "timing %s ...\n", p.name.c_str());

      // The fitted size decides the decode limit's DCT scale.
      component.setRate(korvena::kFitToWindow);
      if (component.open(path)) {
        row.natural = QSize(component.current()->c().picPhoto.picture()->widthPixels(),
                            component.current()->c().picPhoto.picture()->heightPixels());
        row.fitShown = component.shown();
      }
      row.fitScale = coveringDenominator(row.natural, row.fitShown);
      row.naiveLimitLifted = !naiveRead(path);

      // Opening at a rate, then painting nothing, the first view or the far
      // corner's view (a region read there goes through all the data before it).
      enum class Paint { None, First, Corner };
      auto openAt = [&](const std::string& rate, Paint paint) {
        return [&component, &path, rate, paint] {
          component.setRate(rate);
          if (!component.open(path)) return false;
          if (paint == Paint::First) component.paintView(QPoint(0, 0));
          if (paint == Paint::Corner)
            component.paintView(QPoint(component.shown().width() - component.view().width(),
                                       component.shown().height() - component.view().height()));
          return true;
        };
      };
      Series fit{openAt(korvena::kFitToWindow, Paint::None)};
      Series full{openAt("100%", Paint::None)}, fullView{openAt("100%", Paint::First)};
      Series zoom{openAt("1600%", Paint::None)}, zoomView{openAt("1600%", Paint::First)};
      Series corner{openAt("1600%", Paint::Corner)};
      const int scale = row.fitScale;
      Series limitFit{[&path, scale] { return libjpegDecode(path, scale); }};
      Series limitFull{[&path] { return libjpegDecode(path, 1); }};
      // Over Qt's allocation limit the naive viewer cannot open the picture
      // at all; its time with the limit lifted is shown for comparison only.
      Series naive{[&path, lift = row.naiveLimitLifted] {
        const int saved = QImageReader::allocationLimit();
        if (lift) QImageReader::setAllocationLimit(0);
        const bool ok = naiveRead(path);
        QImageReader::setAllocationLimit(saved);
        return ok;
      }};
      std::vector<Series*> all = {&fit, &naive, &full, &fullView, &zoom, &zoomView, &corner};
      if (!p.png) all.insert(all.end(), {&limitFit, &limitFull});
      measure(runs, all, [warm] {
        korvena::ResetPhotoWindows();
        kit::platform().collectGarbage();
        if (!warm) ::malloc_trim(0);
      });
      row.fit = timingOf(fit);
      row.naive = timingOf(naive);
      row.full = timingOf(full);
      row.fullView = timingOf(fullView);
      row.zoom = timingOf(zoom);
      row.zoomView = timingOf(zoomView);
      row.corner = timingOf(corner);
      if (!p.png) {
        row.limitFit = timingOf(limitFit);
        row.limitFull = timingOf(limitFull);
      }
      korvena::ResetPhotoWindows();
      kit::platform().collectGarbage();
      rows.push_back(row);
    }
  }

  std::printf("Opening, in milliseconds (limit = libjpeg in-process at the DCT scale that covers the shown size;\n");
  std::printf("naive = full-size QImageReader read; view = open and paint the first view; corner = open and\n");
  std::printf("paint the view at the bottom-right corner)\n\n");
  std::printf("%-20s %7s %11s %6s %8s %7s %9s %10s | %7s %7s %8s %8s | %7s %8s %8s %8s\n", "picture", "file MB",
              "fit shown", "scale", "limit", "fit", "fit/limit", "naive/fit", "100%", "/limit", "view", "naive/v",
              "1600%", "/limit", "view", "corner");
  for (const Row& r : rows) {
    const std::string shown = std::to_string(r.fitShown.width()) + "x" + std::to_string(r.fitShown.height());
    std::printf("%-20s %7s %11s %6s %8s %7s %9s %9s%s | %7s %7s %8s %8s | %7s %8s %8s %8s\n", r.picture.name.c_str(),
                fixed(r.fileMb).c_str(), shown.c_str(),
                r.picture.png ? "-" : ("1/" + std::to_string(r.fitScale)).c_str(),
                r.picture.png ? "-" : ms(r.limitFit).c_str(), ms(r.fit).c_str(), ratio(r.fit, r.limitFit).c_str(),
                ratio(r.naive, r.fit).c_str(), r.naiveLimitLifted ? "*" : " ", ms(r.full).c_str(),
                ratio(r.full, r.limitFull).c_str(), ms(r.fullView).c_str(), ratio(r.naive, r.fullView).c_str(),
                ms(r.zoom).c_str(), ratio(r.zoom, r.limitFull).c_str(), ms(r.zoomView).c_str(), ms(r.corner).c_str());
  }
  // The scan bomb: refused, against opening the same photo without the repeats.
  Timing bombTime, cleanTime;
  {
    Component component(store);
    component.setRate(korvena::kFitToWindow);
    Series refused{[&] { return !component.open(bomb); }};
    Series clean{[&] { return component.open(progressive); }};
    measure(runs, {&refused, &clean}, [] {
      korvena::ResetPhotoWindows();
      kit::platform().collectGarbage();
    });
    bombTime = timingOf(refused);
    cleanTime = timingOf(clean);
  }
  std::printf(
      "Scan bomb (8000 x 8000 progressive, one AC scan repeated 10000 times, %.1f MB): refused in %s ms;\n"
      "the same photo without the repeats opens at fit in %s ms: x%s (goal <= 0.5)\n\n",
      static_cast<double>(fs::file_size(bomb)) / (1024.0 * 1024.0), ms(bombTime).c_str(), ms(cleanTime).c_str(),
      ratio(bombTime, cleanTime).c_str());

  std::printf("\nnaive read in ms:");
  for (const Row& r : rows)
    std::printf("  %s %s%s", r.picture.file.c_str(), ms(r.naive).c_str(), r.naiveLimitLifted ? "*" : "");
  std::printf("\n* over Qt's allocation limit the naive read fails; its time with the limit lifted is used.\n\n");

  if (only.isEmpty()) bench::storeBench(store, runs);
  if (only.isEmpty()) colourBench(pictures, store, runs);
  // Fidelity and the fitted PNG: figures from this run, with their references.
  for (const Row& r : rows) {
    if (r.picture.file == "photo-24mp.png")
      std::printf("Fitted 24 MP PNG: %s ms, %s x a plain full QImageReader read (%s ms) (goal <= 0.5) %s\n",
                  ms(r.fit).c_str(), ratio(r.fit, r.naive).c_str(), ms(r.naive).c_str(),
                  r.fit.ok && r.naive.ok && r.fit.ms <= 0.5 * r.naive.ms ? "met" : "MISSED");
    if (r.picture.file != "photo-24mp.jpg") continue;
    Component component(store);
    component.setRate(korvena::kFitToWindow);
    const std::string path = (pictures / r.picture.file).string();
    if (!component.open(path)) continue;
    const QImage fitted = component.current()->c().picPhoto.picture()->impl().image;
    std::fprintf(stderr, "measuring fidelity ...\n");
    const bench::Fidelity f = bench::measureFidelity(path, fitted, r.fitScale);
    if (!f.error.empty()) {
      std::printf("Fidelity: not measured (%s)\n", f.error.c_str());
      continue;
    }
    std::printf(
        "Fidelity of the fitted 24 MP JPEG (%dx%d), PSNR against a Lanczos resize of the full decode:\n"
        "  Korvena %s dB; reference: the 1/%d DCT-scaled decode resized with Lanczos %s dB "
        "(goal: within 1 dB) %s; Qt's smooth scaling of the full decode %s dB\n\n",
        fitted.width(), fitted.height(), fixed(f.fitted, 2).c_str(), r.fitScale, fixed(f.dctLanczos, 2).c_str(),
        f.fitted >= f.dctLanczos - 1 ? "met" : "MISSED", fixed(f.qtSmooth, 2).c_str());
  }

  if (!memory || !only.isEmpty()) return 0;

  // Memory.
  std::fprintf(stderr, "measuring memory ...\n");
  const QString photo24 = QString::fromStdString((pictures / "photo-24mp.jpg").string());
  const QString photo50 = QString::fromStdString((pictures / "photo-50mp.jpg").string());
  const Memory windows = runChild({"--child-windows", photo24, "50"});
  const QString photo12q = QString::fromStdString(photo12);
  const Memory hundred = runChild({"--child-windows", photo12q, "100", "100%"});
  const Memory single = runChild({"--child-windows", photo12q, "1", "100%"});
  const Memory at100 = runChild({"--child-zoom", photo50, "100%"});
  const Memory at1600 = runChild({"--child-zoom", photo50, "1600%"});
  auto peak = [](const Memory& m, const char* label) { return m.at.count(label) ? m.at.at(label).second : 0L; };
  std::printf("Peak resident memory (MB, whole process)\n");
  std::printf("  50 windows of the 24 MP photo at fit: %s (%s before opening)%s\n",
              fixed(mb(peak(windows, "done"))).c_str(), fixed(mb(peak(windows, "base"))).c_str(),
              windows.ok ? "" : "  FAILED");
  std::printf("  100 windows of the 12 MP photo at 100 %%: %s (one window: %s; %s before opening)%s\n",
              fixed(mb(peak(hundred, "done"))).c_str(), fixed(mb(peak(single, "done"))).c_str(),
              fixed(mb(peak(hundred, "base"))).c_str(), hundred.ok ? "" : "  FAILED");
  for (const auto& [label, m] : {std::pair{"100%", &at100}, std::pair{"1600%", &at1600}})
    std::printf("  50 MP photo at %-5s: first view %s, after panning across it %s (%s before opening)%s\n", label,
                fixed(mb(peak(*m, "first-view"))).c_str(), fixed(mb(peak(*m, "panned"))).c_str(),
                fixed(mb(peak(*m, "base"))).c_str(), m->ok ? "" : "  FAILED");

  // The goals.
  auto find = [&](const std::string& file) -> const Row& {
    return *std::find_if(rows.begin(), rows.end(), [&](const Row& r) { return r.picture.file == file; });
  };
  std::printf("\nGoals\n");
  for (const char* file : {"photo-24mp.jpg", "photo-50mp.jpg"}) {
    const Row& r = find(file);
    const bool limitOk = r.fit.ok && r.limitFit.ok && r.fit.ms <= 1.25 * r.limitFit.ms;
    const bool naiveOk = r.fit.ok && r.naive.ok && r.naive.ms >= 3 * r.fit.ms;
    std::printf("  %-16s fit: %s x the decode limit (goal <= 1.25) %s; naive / fit %s (goal >= 3) %s\n", file,
                ratio(r.fit, r.limitFit).c_str(), limitOk ? "met" : "MISSED", ratio(r.naive, r.fit).c_str(),
                naiveOk ? "met" : "MISSED");
  }
  const double p100 = mb(peak(at100, "first-view")), p1600 = mb(peak(at1600, "first-view"));
  const double q100 = mb(peak(at100, "panned")), q1600 = mb(peak(at1600, "panned"));
  const bool zoomOk = at100.ok && at1600.ok && p1600 <= 1.5 * p100 && q1600 <= 1.5 * q100;
  std::printf(
      "  50 MP at 1600 %%: peak %s / %s MB (first view / panned) against %s / %s MB at 100 %%: x%s / x%s "
      "(goal <= 1.5, no failure) %s\n",
      fixed(p1600).c_str(), fixed(q1600).c_str(), fixed(p100).c_str(), fixed(q100).c_str(),
      fixed(p100 > 0 ? p1600 / p100 : 0, 2).c_str(), fixed(q100 > 0 ? q1600 / q100 : 0, 2).c_str(),
      zoomOk ? "met" : "MISSED");
  const double w50 = mb(peak(windows, "done"));
  std::printf("  50 windows of 24 MP at fit: %s MB (goal < 300) %s\n", fixed(w50).c_str(),
              windows.ok && w50 < 300 ? "met" : "MISSED");
  const double h100 = mb(peak(hundred, "done")), h1 = mb(peak(single, "done"));
  std::printf("  100 windows of 12 MP at 100 %%: %s MB, x%s one window's peak (goal < 1536 MB, no failure) %s\n",
              fixed(h100).c_str(), fixed(h1 > 0 ? h100 / h1 : 0, 2).c_str(),
              hundred.ok && h100 < 1536 ? "met" : "MISSED");
  std::printf("  scan bomb refused in x%s of the clean photo's open (goal <= 0.5) %s\n",
              ratio(bombTime, cleanTime).c_str(),
              bombTime.ok && cleanTime.ok && bombTime.ms <= 0.5 * cleanTime.ms ? "met" : "MISSED");
  const Row& huge = find("photo-12000.jpg");
  std::printf("  12000 x 12000 opens at fit and at 100 %%: %s\n", huge.fit.ok && huge.full.ok ? "met" : "MISSED");
  return 0;
}
