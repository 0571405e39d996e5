// Hostile picture files opened through the component: truncated, bit-flipped,
// zeroed, misnamed, not pictures at all, and headers that claim a giant size.
// Every open ends in one "Error" box (the window keeps its earlier picture)
// or a shown picture; never a crash, a hang or unbounded memory. The files are
// made here: PNG, JPEG, BMP and PPM by Qt's writers, GIF by a small encoder.
#include <isa-l/crc.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "component_fixture.h"
#include "fuzz/component_invariants.h"
#include "kit/picture.h"
#include "kit/picture_impl.h"
#include "picture_test_helpers.h"

namespace {

using picture_test::encode;
using picture_test::put;
using picture_test::scene;

// ---- making pictures ----

// A GIF with a four-colour table whose LZW data holds only literal codes: a
// clear code before every second pixel keeps the code width at three bits.
// The logical screen may claim another size than the image.
QByteArray makeGif(int width, int height, int screenWidth, int screenHeight, int pixels) {
  QByteArray gif("GIF89a");
  put(gif, static_cast<uint32_t>(screenWidth), 2);
  put(gif, static_cast<uint32_t>(screenHeight), 2);
  gif.append('\x81').append('\0').append('\0');  // a global table of 4 colours
  gif.append(QByteArray::fromHex("000000ff000000ff000000ff"));
  gif.append(',');
  for (const int v : {0, 0, width, height}) put(gif, static_cast<uint32_t>(v), 2);
  gif.append('\0');
  gif.append('\x02');  // minimum code size
  QByteArray lzw;
  uint32_t bits = 0;
  int count = 0;
  auto putCode = [&](unsigned code) {
    bits |= code << count;
    count += 3;
    while (count >= 8) {
      lzw.append(static_cast<char>(bits & 0xFF));
      bits >>= 8;
      count -= 8;
    }
  };
  for (int i = 0; i < pixels; ++i) {
    if (i % 2 == 0) putCode(4);  // clear
    putCode(static_cast<unsigned>((i / 3 + i / width) % 4));
  }
  putCode(5);  // end of information
  if (count > 0) lzw.append(static_cast<char>(bits & 0xFF));
  for (qsizetype at = 0; at < lzw.size(); at += 255) {
    const QByteArray block = lzw.mid(at, 255);
    gif.append(static_cast<char>(block.size())).append(block);
  }
  gif.append('\0').append(';');
  return gif;
}

QByteArray pngChunk(const char* type, const QByteArray& data) {
  QByteArray out;
  put(out, static_cast<uint32_t>(data.size()), 4, false);
  const QByteArray body = QByteArray(type) + data;
  out.append(body);
  put(out, crc32_gzip_refl(0, reinterpret_cast<const uint8_t*>(body.constData()), static_cast<uint64_t>(body.size())),
      4, false);
  return out;
}

// Headers that claim a giant picture over a few bytes of data. PNG and BMP
// hold 32-bit sizes (100000 x 100000); JPEG and GIF at most 16 bits, so they
// claim the largest the format allows.
QByteArray giantPng() {
  QByteArray header;
  put(header, 100000, 4, false);
  put(header, 100000, 4, false);
  header.append(QByteArray::fromHex("0802000000"));  // 8-bit RGB
  const QByteArray rows(2 * (1 + 3 * 100000), '\0');
  return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", qCompress(rows).mid(4)) +
         pngChunk("IEND", {});
}

QByteArray giantBmp() {
  QByteArray bmp("BM");
  for (uint32_t v : {54u + 64, 0u, 54u, 40u, 100000u, 100000u}) put(bmp, v, 4);
  put(bmp, 1, 2);
  put(bmp, 24, 2);
  for (uint32_t v : {0u, 0u, 2835u, 2835u, 0u, 0u}) put(bmp, v, 4);
  return bmp + QByteArray(64, '\x40');
}

QByteArray giantJpeg() {
  QByteArray jpeg = encode(scene(48, 32), "jpeg");
  // The frame header (SOF0): length, precision, then height and width, each
  // 65500, the decoder's own ceiling.
  const qsizetype frame = jpeg.indexOf("\xFF\xC0");
  EXPECT_GT(frame, 0) << "no frame header in the JPEG";
  return jpeg.replace(frame + 5, 4, QByteArray("\xFF\xDC\xFF\xDC", 4));
}

// ---- memory ----

long statusKilobytes(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  return -1;
}

// Resets the peak resident size to the current one, so that the next reading
// of VmHWM is the peak since now. Whether the kernel allowed it.
bool resetPeakMemory() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

// ---- scan bombs ----

// A progressive JPEG written by libjpeg: a DC scan of all components, then
// the scans of `script` in order.
QByteArray progressive(int side, std::vector<jpeg_scan_info> script) {
  script.insert(script.begin(), jpeg_scan_info{3, {0, 1, 2, 0}, 0, 0, 0, 0});
  return picture_test::libjpegOf(scene(side, side), [&](jpeg_compress_struct& cinfo) {
    cinfo.scan_info = script.data();
    cinfo.num_scans = static_cast<int>(script.size());
  });
}

// A progressive JPEG whose last scan, the first AC scan of one component
// (left unrefined, which is allowed), is repeated `times` times: each
// repetition costs the decoder a pass over the whole picture.
QByteArray repeatedScanBomb(int side, int times) {
  std::vector<jpeg_scan_info> script;
  for (int c = 0; c < 3; ++c) script.push_back(jpeg_scan_info{1, {c, 0, 0, 0}, 1, 63, 0, 1});
  const QByteArray jpeg = progressive(side, script);
  const qsizetype last = jpeg.lastIndexOf("\xFF\xDA"), end = jpeg.size() - 2;  // the end-of-image marker follows
  return jpeg.left(end) + jpeg.mid(last, end - last).repeated(times) + jpeg.mid(end);
}

// A valid progressive JPEG with 379 scans: each AC coefficient of each
// component in a scan of its own, then refined in another.
QByteArray manyScans() {
  std::vector<jpeg_scan_info> script;
  for (int al = 1; al >= 0; --al)
    for (int k = 1; k < 64; ++k)
      for (int c = 0; c < 3; ++c) script.push_back(jpeg_scan_info{1, {c, 0, 0, 0}, k, k, al == 1 ? 0 : 1, al});
  return progressive(32, script);
}

// ---- the fixture ----

struct Sample {
  const char* extension;
  QByteArray bytes;
};

class Hostile : public fixture::ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    start();
    // A good picture first: every hostile file is opened in its place.
    app.OpenImage(picture("good.png", 30, 20), "good.png");
    messageBoxes();
  }
  std::vector<Sample> samples() const {
    const QImage image = scene(48, 32);
    return {{"png", encode(image, "png")},
            {"jpg", encode(image, "jpeg")},
            {"bmp", encode(image, "bmp")},
            {"ppm", encode(image, "ppm")},
            {"gif", makeGif(48, 32, 48, 32, 48 * 32)}};
  }
  std::string write(const std::string& name, const QByteArray& bytes) {
    return picture_test::writeFile((dir / name).string(), bytes);
  }
  // Opens a file in the current window. Either it shows (no message box, a
  // new picture with a positive size) or it fails with one "Error" box and
  // the window keeps what it showed. Whether it showed.
  bool openChecked(const std::string& path, const std::string& trace) {
    SCOPED_TRACE(trace);
    // A same-window open replaces the current window's picture; a new
    // window starts with none.
    const korvena::frmPhoto* current = korvena::loadedPhotoWindow(state().CurrentIndex);
    const auto before = current && !app.newWindowMode() ? current->peek()->picPhoto.picture() : nullptr;
    app.OpenImage(path, trace);
    EXPECT_EQ(korvena::invariants::inconsistency(), "");
    const auto boxes = messageBoxes();
    const auto now = photo(state().CurrentIndex).c().picPhoto.picture();
    EXPECT_EQ(kit::platform().mousePointer(), 0);
    if (boxes.empty()) {
      EXPECT_NE(now, before);
      EXPECT_TRUE(now && now->widthPixels() > 0 && now->heightPixels() > 0);
      return true;
    }
    EXPECT_EQ(boxes.size(), 1u);
    lastError = boxes[0].text;
    EXPECT_EQ(std::pair(boxes[0].title, boxes[0].flags), std::pair(std::string("Error"), 48L));
    EXPECT_FALSE(boxes[0].text.empty());
    EXPECT_EQ(now, before);
    return false;
  }
  bool openBytes(const QByteArray& bytes, const std::string& name) { return openChecked(write(name, bytes), name); }
  std::string lastError;  // the text of the last failure's box
};

TEST_F(Hostile, SamplesOpenWhateverTheirNameSays) {
  // The untouched samples, which the damaged ones are made from. The content
  // decides the reader; names need not be UTF-8.
  for (const Sample& s : samples()) {
    for (const std::string& name :
         {std::string("sample."), std::string("caf\xE9 \xFF."), std::string("misnamed.png"),
          std::string("misnamed.jpg"), std::string("misnamed.gif"), std::string("misnamed.bmp"),
          std::string("misnamed.ppm"), std::string("misnamed.txt"), std::string("no-extension")}) {
      ASSERT_TRUE(openBytes(s.bytes, name.back() == '.' ? name + s.extension : name)) << s.extension << " as " << name;
      const auto& shown = *photo(1).c().picPhoto.picture();
      EXPECT_EQ(QSize(shown.widthPixels(), shown.heightPixels()), QSize(48, 32));
    }
  }
}

TEST_F(Hostile, TruncatedAtManyOffsets) {
  for (const Sample& s : samples()) {
    const qsizetype size = s.bytes.size();
    std::vector<qsizetype> cuts;
    for (qsizetype n = 0; n < std::min<qsizetype>(size, 64); ++n) cuts.push_back(n);  // every header byte
    for (qsizetype n = 64; n < size; n += std::max<qsizetype>(1, size / 40)) cuts.push_back(n);
    cuts.push_back(size - 1);
    for (const qsizetype n : cuts) {
      const bool shown = openBytes(s.bytes.left(n), "cut" + std::to_string(n) + "." + s.extension);
      EXPECT_TRUE(n >= 8 || !shown) << "a picture from " << n << " bytes";
    }
  }
}

TEST_F(Hostile, BitFlipsAndZeroedRuns) {
  std::mt19937 random(20240611);
  for (const Sample& s : samples()) {
    const auto size = static_cast<uint32_t>(s.bytes.size());
    for (int i = 0; i < 40; ++i) {
      QByteArray damaged = s.bytes;
      const uint32_t at = random() % size;
      damaged[at] = static_cast<char>(damaged[at] ^ (1 << (random() % 8)));
      if (i % 4 == 0) {  // and a second flip somewhere else
        const uint32_t other = random() % size;
        damaged[other] = static_cast<char>(damaged[other] ^ 0x80);
      }
      openBytes(damaged, "flip" + std::to_string(i) + "." + s.extension);
    }
    for (int i = 0; i < 8; ++i) {
      QByteArray damaged = s.bytes;
      const uint32_t at = random() % size;
      for (uint32_t k = at; k < std::min(size, at + 24); ++k) damaged[k] = '\0';
      openBytes(damaged, "zeroed" + std::to_string(i) + "." + s.extension);
    }
  }
}

TEST_F(Hostile, FilesThatAreNoPictureAtAllFailWithOneError) {
  // (Empty files and bare headers are among the truncated ones.)
  const std::pair<QByteArray, const char*> files[] = {{QByteArray(4096, '\0'), "zeros.gif"},
                                                      {QByteArray(4096, '\xFF'), "ones.bmp"},
                                                      {"This is a text file, not a picture.\n", "notes.png"},
                                                      {"GIF89a", "signature-only.gif"},
                                                      {QByteArray("BM") + QByteArray(60, '\0'), "zero-header.bmp"}};
  for (const auto& [bytes, name] : files) EXPECT_FALSE(openBytes(bytes, name));
}

TEST_F(Hostile, GiantClaimedSizeIsRefusedOrReducedWithBoundedMemory) {
  const bool peakReset = resetPeakMemory();
  const long baseline = statusKilobytes(peakReset ? "VmRSS:" : "VmHWM:");
  ASSERT_GT(baseline, 0);
  const std::pair<QByteArray, const char*> giants[] = {
      {giantPng(), "giant.png"},
      {giantJpeg(), "giant.jpg"},
      {makeGif(65535, 65535, 65535, 65535, 64), "giant.gif"},
      {giantBmp(), "giant.bmp"},
      {QByteArray("P6\n100000 100000\n255\n") + QByteArray(64, '\x7f'), "giant.ppm"},
  };
  for (const auto& [bytes, name] : giants) {
    if (openBytes(bytes, name)) {
      // Decoded at a reduced size within the budget; the natural size stays.
      const auto& picture = *photo(1).c().picPhoto.picture();
      EXPECT_GE(picture.widthPixels(), 65500) << name;
      EXPECT_LE(int64_t{picture.impl().image.width()} * picture.impl().image.height() * 4, 128LL << 20) << name;
    }
    photo(1).c().picPhoto.setPicture(nullptr);  // no earlier picture held across the cases
  }
  // A GIF whose small logical screen hides a giant image, and the other way round.
  openBytes(makeGif(65535, 65535, 16, 16, 64), "inner-giant.gif");
  openBytes(makeGif(16, 16, 65535, 65535, 256), "screen-giant.gif");
  // A full decode of any of them would need at least 16 GB.
  const long growth = statusKilobytes("VmHWM:") - baseline;
  EXPECT_LT(growth, 512L * 1024) << "peak grew by " << growth << " kB";
}

TEST_F(Hostile, AnythingButAReadableFileIsRefusedAtOnceSayingWhat) {
  // A FIFO would block an open for reading until a writer came.
  const std::string fifo = (dir / "fifo.jpg").string(), fifoPng = (dir / "fifo.png").string();
  for (const std::string& path : {fifo, fifoPng}) ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  const std::string folder = (dir / "folder.png").string();
  std::filesystem::create_directory(folder);
  const std::string socketPath = (dir / "socket.gif").string();
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  std::vector<std::pair<std::string, std::string>> cases = {
      {fifo, "pipe"},          {fifoPng, "pipe"},  {socketPath, "socket"},
      {"/dev/zero", "device"}, {folder, "folder"}, {(dir / "gone.png").string(), "File not found"}};
  if (::geteuid() != 0) {  // root reads anything
    const std::string locked = write("locked.png", samples()[0].bytes);
    ::chmod(locked.c_str(), 0);
    cases.emplace_back(locked, "Permission denied");
  }
  for (const auto& [path, says] : cases) {
    EXPECT_FALSE(openChecked(path, path));
    EXPECT_NE(lastError.find(says), std::string::npos) << path << ": " << lastError;
  }
  ::close(listener);
}

TEST_F(Hostile, ScanBombsAreRefusedSayingWhy) {
  // 3000 repeats of one scan: the decoder would pass over the picture 3000 times.
  EXPECT_FALSE(openBytes(repeatedScanBomb(1024, 3000), "repeated-scans.jpg"));
  EXPECT_NE(lastError.find("progressive scans are corrupt"), std::string::npos) << lastError;
  // A progression that is valid but has more scans than any encoder writes.
  EXPECT_FALSE(openBytes(manyScans(), "many-scans.jpg"));
  EXPECT_NE(lastError.find("more than 256 progressive scans"), std::string::npos) << lastError;
  // An ordinary progressive photo still opens.
  EXPECT_TRUE(openBytes(repeatedScanBomb(64, 0), "progressive.jpg"));
}

TEST_F(Hostile, APictureTooLargeForTheBudgetSaysSo) {
  if (!QImageReader::supportedImageFormats().contains("svg")) GTEST_SKIP() << "no SVG reader";
  const QByteArray svg =
      "<svg xmlns='http://www.w3.org/2000/svg' width='100000000' height='100000000'>"
      "<rect width='10' height='10'/></svg>";
  EXPECT_FALSE(openBytes(svg, "huge.svg"));
  EXPECT_NE(lastError.find("too large"), std::string::npos) << lastError;
}

// HEIF, AVIF and JPEG XL files from the formats' own encoders (skipped where
// the tools are missing): each opens at its natural size (the AVIF turned by
// its irot), and cut short or claiming a giant size gives one error box.
TEST_F(Hostile, HeifAvifAndJpegXlFromTheirEncoders) {
  const std::string source = write("source.png", encode(scene(48, 32), "png"));
  const std::pair<const char*, const char*> tools[] = {{"heic", "heif-enc -q 60 source.png -o made.heic"},
                                                       {"avif", "avifenc -s 10 --irot 1 source.png made.avif"},
                                                       {"jxl", "cjxl source.png made.jxl"}};
  for (const auto& [extension, command] : tools) {
    const std::string program = std::string(command).substr(0, std::string(command).find(' '));
    if (std::system(("command -v " + program + " >/dev/null").c_str()) != 0) continue;
    ASSERT_EQ(std::system(("cd " + dir.string() + " && " + command + " >/dev/null 2>&1").c_str()), 0) << command;
    std::ifstream in(dir / (std::string("made.") + extension), std::ios::binary);
    QByteArray bytes = QByteArray::fromStdString(std::string(std::istreambuf_iterator<char>(in), {}));
    ASSERT_TRUE(openBytes(bytes, std::string("sample.") + extension)) << lastError;
    const bool turned = std::string(extension) == "avif";
    EXPECT_EQ(photo(1).c().picPhoto.picture()->widthPixels(), turned ? 32 : 48) << extension;
    for (const qsizetype n : {qsizetype{12}, qsizetype{40}, bytes.size() / 2, bytes.size() - 4})
      openBytes(bytes.left(n), "cut" + std::to_string(n) + "." + extension);
    // Every 'ispe' box (the stored size) claims 16000 x 16000 pixels.
    for (qsizetype at = bytes.indexOf("ispe"); at >= 0; at = bytes.indexOf("ispe", at + 1))
      for (const qsizetype field : {at + 8, at + 12}) bytes.replace(field, 4, QByteArray("\0\0\x3E\x80", 4));
    if (turned || std::string(extension) == "heic") {
      EXPECT_FALSE(openBytes(bytes, std::string("giant.") + extension));
      EXPECT_NE(lastError.find("too large"), std::string::npos) << lastError;
    }
  }
  // A JPEG XL codestream that claims 16000 x 16000 pixels: its size header
  // (not small; height in 30 bits, selector 3; ratio 1:1) and default metadata.
  std::uint64_t bits = 0;
  int used = 0;
  for (const auto& [value, count] : {std::pair{0u, 1}, {3u, 2}, {15999u, 30}, {1u, 3}, {1u, 1}}) {
    bits |= std::uint64_t{value} << used;
    used += count;
  }
  QByteArray giant("\xFF\x0A", 2);
  for (int i = 0; i < 8; ++i) giant.append(static_cast<char>((bits >> (8 * i)) & 0xFF));
  EXPECT_FALSE(openBytes(giant + QByteArray(64, '\0'), "giant.jxl"));
  EXPECT_NE(lastError.find("too large"), std::string::npos) << lastError;
}

}  // namespace
