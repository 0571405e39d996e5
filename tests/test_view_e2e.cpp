// korvena-view end to end on a virtual X screen with a window manager: run in
// its screenshot mode, or left running and worked with xdotool as a user
// would; judged by the screen's pixels and by what X reports of its windows.
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <memory>
#include <optional>
#include <vector>

#include "picture_test_helpers.h"

namespace {

const QString kSamples = QDir(QStringLiteral(KORVENA_TEST_DATA "/../../samples")).absolutePath();
const QString kFirstSample = kSamples + "/1-sunset.jpg";
constexpr int kScreenWidth = 1280, kScreenHeight = 1024;
// The toolbar's design place: 9000 x 300 twips, at 15 twips a pixel.
constexpr int kToolbarLeft = 600, kToolbarTop = 20;
const QRgb kWhite = qRgb(255, 255, 255), kBlack = qRgb(0, 0, 0);

struct ViewRun {
  int status = -1;  // exit code, -1 when it crashed or timed out
  QByteArray out, err;
};

void Stop(QProcess& p, int ms = 5000) {
  if (p.state() == QProcess::NotRunning) return;
  p.terminate();
  if (!p.waitForFinished(ms)) p.kill();
  p.waitForFinished(2000);
}

ViewRun RunView(const QStringList& args, const QProcessEnvironment& env) {
  QProcess process;
  process.setProcessEnvironment(env);
  process.start(KORVENA_VIEW, args);
  if (!process.waitForFinished(60000)) {
    Stop(process);
    return {-1, process.readAllStandardOutput(), process.readAllStandardError() + "\n(did not finish)"};
  }
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
          process.readAllStandardError()};
}

int ColourDistance(QRgb a, QRgb b) {
  return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
}

// The offset within the first maxDx x maxDy pixels at which the screen shows
// the picture, judged on a grid of points across it.
std::optional<QPoint> FindPicture(const QImage& screen, const QImage& picture, int maxDx = 40, int maxDy = 60) {
  auto meanDistance = [&](int dx, int dy, int steps) {
    long total = 0;
    for (int i = 0; i < steps; ++i)
      for (int j = 0; j < steps; ++j) {
        const int x = (picture.width() - 1) * i / (steps - 1), y = (picture.height() - 1) * j / (steps - 1);
        if (x + dx >= screen.width() || y + dy >= screen.height()) return 1000.0;
        total += ColourDistance(screen.pixel(x + dx, y + dy), picture.pixel(x, y));
      }
    return static_cast<double>(total) / (steps * steps);
  };
  for (int dy = 0; dy <= maxDy; ++dy)
    for (int dx = 0; dx <= maxDx; ++dx)
      if (meanDistance(dx, dy, 9) < 15 && meanDistance(dx, dy, 41) < 12) return QPoint(dx, dy);
  return std::nullopt;
}

// Share of the pixels in a rectangle within `tolerance` of a colour.
double ShareOf(const QImage& image, const QRect& area, QRgb colour, int tolerance = 6) {
  int hits = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) hits += ColourDistance(image.pixel(x, y), colour) <= tolerance;
  return static_cast<double>(hits) / (area.width() * area.height());
}

int DistinctColours(const QImage& image, const QRect& area) {
  QSet<QRgb> colours;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) colours.insert(image.pixel(x, y) & 0xF0F0F0);
  return static_cast<int>(colours.size());
}

QImage Picture(const QString& file) { return QImage(file).convertToFormat(QImage::Format_RGB32); }

// A picture whose every pixel tells where in the picture it is: red is x and
// green is y modulo 256, blue holds the multiples of 256 (x high, y low).
QImage CodedPicture(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(x % 256, y % 256, (x / 256) * 16 + y / 256));
  return image;
}
QPoint PlaceInCodedPicture(QRgb p) { return {qBlue(p) / 16 * 256 + qRed(p), qBlue(p) % 16 * 256 + qGreen(p)}; }

class ViewOnScreen : public ::testing::Test {
 protected:
  // A virtual screen (white root window) with openbox managing it, shared by
  // the tests; the server and the window manager end with the test program.
  static void SetUpTestSuite() {
    for (const char* tool : {"Xvfb", "openbox", "xdotool", "xprop", "xwininfo", "import"})
      if (QStandardPaths::findExecutable(tool).isEmpty()) return void(whyNot_ = QString(tool) + " is not installed");
    screen_ = std::make_unique<Screen>();
    QProcess &server = screen_->server, &wm = screen_->wm;
    for (QProcess* p : {&server, &wm}) p->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    // -displayfd 1: the server picks a free display and writes its number once it accepts clients.
    server.start("Xvfb", {"-displayfd", "1", "-screen", "0", QString("%1x%2x24").arg(kScreenWidth).arg(kScreenHeight),
                          "-wr", "-nolisten", "tcp", "-noreset"});
    const QDeadlineTimer deadline(20000);
    QByteArray number;
    while (!number.contains('\n') && !deadline.hasExpired()) {
      if (!server.waitForReadyRead(500) && server.state() == QProcess::NotRunning) break;
      number += server.readAllStandardOutput();
    }
    if (!number.contains('\n')) return void(whyNot_ = "Xvfb did not start: " + server.readAllStandardError());
    const QString display = ":" + QString::fromLatin1(number.trimmed()), ready = screen_->dir.filePath("wm-ready");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    env.insert("HOME", screen_->dir.path());
    env.insert("XDG_CONFIG_HOME", screen_->dir.path());
    wm.setProcessEnvironment(env);
    wm.start("openbox", {"--sm-disable", "--startup", "touch " + ready});
    while (!QFile::exists(ready) && !deadline.hasExpired() && wm.state() != QProcess::NotRunning) QThread::msleep(50);
    if (!QFile::exists(ready)) return void(whyNot_ = "openbox did not start: " + wm.readAllStandardError());
    display_ = display;
  }
  static void TearDownTestSuite() { screen_.reset(); }
  void SetUp() override {
    if (display_.isEmpty()) GTEST_SKIP() << whyNot_.toStdString();
    ASSERT_TRUE(dir_.isValid());
    env_.insert("DISPLAY", display_);
    env_.insert("QT_QPA_PLATFORM", "xcb");
    env_.insert("KORVENA_REGISTRY_DIR", dir_.filePath("settings"));
    env_.insert("HOME", dir_.path());
    env_.insert("XDG_CONFIG_HOME", dir_.path());
    // Its own temporary and runtime folders, so that what it leaves there shows.
    for (const char* name : {"TMPDIR", "XDG_RUNTIME_DIR"}) {
      const QString folder = dir_.filePath(name);
      ASSERT_TRUE(QDir().mkpath(folder));
      QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
      env_.insert(name, folder);
    }
    // Under LeakSanitizer the viewer meets the process-lifetime allocations of
    // the system's D-Bus library, which Qt's platform plugin loads: the
    // project's suppressions name them (as they name Qt's own for this program).
    if (!env_.contains("LSAN_OPTIONS"))
      env_.insert("LSAN_OPTIONS", "suppressions=" + QDir::cleanPath(KORVENA_TEST_DATA "/../../scripts/lsan.supp"));
  }
  void TearDown() override { Stop(view_, 10000); }
  // Runs the viewer in its screenshot mode; the screenshot.
  QImage screenshot(const QStringList& args) {
    const QString file = dir_.filePath("shot.png");
    QFile::remove(file);
    const ViewRun run = RunView(QStringList{"--screenshot", file} + args, env_);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out.trimmed(), file.toLocal8Bit()) << "the viewer prints where the screenshot is";
    const QImage image = Picture(file);
    EXPECT_EQ(image.size(), QSize(kScreenWidth, kScreenHeight));
    return image;
  }
  // Starts the viewer; true once a photo window of it shows and the screen is still.
  bool start(const QStringList& args) {
    view_.setProcessEnvironment(env_);
    view_.start(KORVENA_VIEW, args);
    for (const QDeadlineTimer deadline(30000); photoWindow().isEmpty() && !deadline.hasExpired();) QThread::msleep(100);
    return !photoWindow().isEmpty() && !shot().isNull();
  }
  // Runs a tool on the screen: the words of `line` split at blanks, then `more`; its output.
  QString x(const QString& line, const QStringList& more = {}) {
    QProcess tool;
    tool.setProcessEnvironment(env_);
    const QStringList words = line.split(' ', Qt::SkipEmptyParts);
    tool.start(words.front(), words.mid(1) + more);
    if (!tool.waitForFinished(20000)) tool.kill();
    return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
  }
  // The viewer's shown windows whose titles match (a pattern), once there is
  // one when `wait`: photo windows carry the zoom rate, the toolbar and the
  // background have blank titles.
  QStringList windows(const QString& title, bool wait = false) {
    const QString search = QString("xdotool search %1 --all --onlyvisible --pid %2 --name").arg(wait ? "--sync" : "");
    return x(search.arg(view_.processId()), {title}).split('\n', Qt::SkipEmptyParts);
  }
  QString photoWindow() { return windows("%$").value(0); }
  QString blankWindow(bool wholeScreen) {
    for (const QString& w : windows("^[[:space:]]$"))
      if ((clientRect(w).size() == QSize(kScreenWidth, kScreenHeight)) == wholeScreen) return w;
    return {};
  }
  // A window's client area on the screen.
  QRect clientRect(const QString& window) {
    const QString info = x("xwininfo -id " + window);
    auto value = [&](const char* label) { return info.section(label + QString(':'), 1).section('\n', 0, 0).toInt(); };
    return {value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"), value("Height")};
  }
  // A window's children (id, place in it).
  std::vector<std::pair<QString, QRect>> children(const QString& window) {
    static const QRegularExpression line(R"((0x[0-9a-f]+) .*\s(\d+)x(\d+)\+(-?\d+)\+(-?\d+)\s)");
    std::vector<std::pair<QString, QRect>> found;
    for (const QString& text : x("xwininfo -children -id " + window).split('\n'))
      if (const auto m = line.match(text); m.hasMatch())
        found.emplace_back(m.captured(1), QRect(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(2).toInt(),
                                                m.captured(3).toInt()));
    return found;
  }
  // The whole screen once it has stopped changing for a while (the window
  // manager and the viewer have answered what was done).
  QImage shot() {
    const QString file = dir_.filePath("root.png");
    QImage last;
    for (int i = 0, same = 0; i < 60 && same < 2; ++i) {
      QThread::msleep(200);
      x("import -window root " + file);
      QImage now = Picture(file);
      same = !now.isNull() && now == last ? same + 1 : 0;
      last = now;
    }
    return last;
  }
  void click(QPoint at, int button = 1, int times = 1) {
    x(QString::asprintf("xdotool mousemove %d %d click --repeat %d --delay 80 %d", at.x(), at.y(), times, button));
  }
  // The collapsed toolbar stands at its design place, right of a photo at
  // the top left: a light window with several colours (its icons), and its
  // frame's top edge where the toolbar's top is, not above it.
  void expectToolbar(const QImage& shot, QRgb background) {
    const QRect bar(kToolbarLeft + 4, kToolbarTop + 4, 150, 30);
    EXPECT_LT(ShareOf(shot, bar, background), 0.2) << "no toolbar where it opens";
    EXPECT_GE(DistinctColours(shot, bar), 12) << "the toolbar shows no icons";
    EXPECT_GT(ShareOf(shot, QRect(kToolbarLeft + 4, 1, 150, kToolbarTop - 3), background), 0.98)
        << "the toolbar stands above its place";
  }
  // The picture stands where centring puts it in the client area.
  void expectCentred(const QImage& screen, const QImage& picture, const QRect& client) {
    const auto at = FindPicture(screen.copy(client), picture, client.width(), client.height());
    ASSERT_TRUE(at.has_value()) << "the picture is not in the window";
    EXPECT_NEAR(at->x(), (client.width() - picture.width()) / 2.0, 1);
    EXPECT_NEAR(at->y(), (client.height() - picture.height()) / 2.0, 1);
  }
  struct Screen {
    ~Screen() {
      Stop(wm);
      Stop(server);
    }
    QTemporaryDir dir;
    QProcess server, wm;
  };
  static inline std::unique_ptr<Screen> screen_;
  static inline QString display_, whyNot_;
  QTemporaryDir dir_;
  QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();
  QProcess view_;
};

// Below the button row, right of the buttons: the zoom box, the image list
// and the option pages stand there once the panel is open.
const QRect kDetailsArea(kToolbarLeft + 200, kToolbarTop + 60, 200, 80);

TEST_F(ViewOnScreen, FirstPhotoAtTopLeftAndTheToolbarBesideItWidenedByTheDetailsPanel) {
  const QImage shot = screenshot({"--details", kSamples});
  // Position 11 puts the window's outer corner at the screen's: only the
  // frame lies between the screen's corner and the picture.
  EXPECT_TRUE(FindPicture(shot, Picture(kFirstSample))) << "the first photo is not at the top left, at 100%";
  EXPECT_FALSE(FindPicture(shot, Picture(kSamples + "/2-meadow.jpg")));
  EXPECT_GT(ShareOf(shot, QRect(900, 700, 360, 300), kWhite), 0.98) << "the root window does not show";
  expectToolbar(shot, kWhite);
  EXPECT_LT(ShareOf(shot, kDetailsArea, kWhite), 0.2) << "no option pages";
  EXPECT_GE(DistinctColours(shot, kDetailsArea), 4) << "the pages show nothing";
  // The zoom box and the image list sit right of the buttons.
  EXPECT_LT(ShareOf(shot, QRect(kToolbarLeft + 200, kToolbarTop + 25, 250, 20), kWhite), 0.9);
}

TEST_F(ViewOnScreen, UndecodableFirstPictureShowsTheErrorBox) {
  const QString broken = dir_.filePath("broken");
  ASSERT_TRUE(QDir().mkpath(broken));
  picture_test::writeFile((broken + "/0-broken.jpg").toStdString(), "this is not a JPEG file");
  ASSERT_TRUE(QFile::copy(kFirstSample, broken + "/1-sunset.jpg"));
  const QImage shot = screenshot({broken});
  const QRect centre(kScreenWidth / 2 - 60, kScreenHeight / 2 - 40, 120, 60);
  EXPECT_LT(ShareOf(shot, centre, kWhite), 0.5) << "no message box in the middle of the screen";
}

// Command lines that fail before any window opens, and the help text.
TEST(ViewCommandLine, MistakesGetAMessageAndNoWindow) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
  const struct {
    QStringList args;
    int status;
    const char* says;
  } cases[] = {{{"/no/such/folder"}, 1, "no such file or folder: /no/such/folder"},
               {{}, 2, "Usage: korvena-view"},
               {{kSamples}, 1, "no display"},
               {{"--help"}, 0, "--blank-screen"}};
  for (const auto& c : cases) {
    const ViewRun run = RunView(c.args, env);
    EXPECT_EQ(run.status, c.status) << c.says;
    EXPECT_TRUE((run.out + run.err).contains(c.says)) << run.err.toStdString();
  }
}

TEST_F(ViewOnScreen, F1ShowsTheTopicInOneHelpWindowThatComesToTheFront) {
  const QStringList helpFoldersBefore = QDir("/tmp").entryList({"korvena-help-*"}, QDir::AllEntries);
  ASSERT_TRUE(start({kSamples}));
  const QString photo = photoWindow();
  // Asks for the active window until it is this one (for at most 15 seconds).
  auto becomesActive = [&](const QString& window) {
    for (int i = 0; i < 150 && x("xdotool getactivewindow") != window; ++i) QThread::msleep(100);
    return x("xdotool getactivewindow") == window;
  };
  // A second F1 from the photo window, now in front, reuses the help window and brings it forward again.
  QString help;
  for (const char* press : {"first F1", "second F1"}) {
    SCOPED_TRACE(press);
    x("xdotool windowactivate --sync " + photo);
    ASSERT_EQ(x("xdotool getactivewindow"), photo);
    x("xdotool key F1");
    const QStringList helps = windows("The photo window and the toolbar - Korvena Photo Viewer Help", true);
    ASSERT_EQ(helps.size(), 1) << "no help window at the photo window's topic";
    help = help.isEmpty() ? helps.first() : help;
    EXPECT_TRUE(becomesActive(help)) << "the help window is not in front";
  }
  EXPECT_EQ(windows("Korvena Photo Viewer Help"), QStringList{help});
  // The windows carry the component's icon and the program's class.
  for (const QString& window : {photo, help}) {
    EXPECT_TRUE(x("xprop _NET_WM_ICON -id " + window).contains("Icon (48 x 48)"));
    EXPECT_TRUE(x("xprop WM_CLASS -id " + window).contains("\"korvena-view\""));
  }
  // Nothing was unpacked for the help.
  EXPECT_EQ(QDir(env_.value("TMPDIR")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList());
  EXPECT_EQ(QDir("/tmp").entryList({"korvena-help-*"}, QDir::AllEntries), helpFoldersBefore);
}

TEST_F(ViewOnScreen, BlankScreenPutsBlackBehindThePhotosWhateverActivatesIt) {
  ASSERT_TRUE(start({"--blank-screen", kFirstSample}));
  const QString state = x("xprop _NET_WM_STATE -id " + blankWindow(true));
  EXPECT_TRUE(state.contains("SKIP_TASKBAR") && state.contains("SKIP_PAGER")) << state.toStdString();
  const QImage sunset = Picture(kFirstSample), first = shot();
  // Black all round, and where the details panel would stand: the toolbar starts collapsed.
  for (const QRect& area :
       {QRect(900, 700, 360, 300), QRect(0, 600, 300, 400), QRect(1000, 200, 270, 200), kDetailsArea})
    EXPECT_GT(ShareOf(first, area, kBlack, 0), 0.999) << "not black at " << area.x() << "," << area.y();
  for (const char* activation : {"xdotool mousemove 1100 900 click 1", "xdotool key alt+Tab"}) {
    SCOPED_TRACE(activation);
    x(activation);
    const QImage screen = shot();
    EXPECT_TRUE(FindPicture(screen, sunset)) << "the photo is hidden";
    expectToolbar(screen, kBlack);
  }
  // With no photo left, the background never covers the toolbar.
  click({200, 200});
  x("xdotool key alt+F4");
  click({1100, 900});
  const QImage screen = shot();
  EXPECT_FALSE(FindPicture(screen, sunset)) << "the photo did not close";
  expectToolbar(screen, kBlack);
}

TEST_F(ViewOnScreen, ThePhotoWindowFitsItsPictureTheToolbarIsAPaletteAndNextCentresInAMaximisedWindow) {
  ASSERT_TRUE(start({kSamples}));
  const QRect before = clientRect(photoWindow());
  EXPECT_EQ(before.size(), Picture(kFirstSample).size());
  // The toolbar has a close box only; a double click on its title bar does not maximise it.
  const QString toolbar = blankWindow(false);
  const QRect place = clientRect(toolbar);
  const QString actions = x("xprop _NET_WM_ALLOWED_ACTIONS -id " + toolbar);
  EXPECT_TRUE(actions.contains("CLOSE") && !actions.contains("MINIMIZE") && !actions.contains("MAXIMIZE"))
      << actions.toStdString();
  click({place.x() + place.width() / 2, place.y() - 8}, 1, 2);
  shot();
  EXPECT_EQ(clientRect(toolbar), place) << "the toolbar was maximised";
  // Minimised by the window system all the same, it comes back when a photo is activated.
  x("xdotool windowminimize " + toolbar);
  click({200, 200});
  expectToolbar(shot(), kWhite);
  click({before.x() + 60, before.y() - 8}, 1, 2);  // a double click on the title bar maximises
  shot();
  ASSERT_GT(clientRect(photoWindow()).width(), kScreenWidth - 10) << "the window is not maximised";
  // "MoveNext", the third button (26 pixels each), gives the toolbar the
  // keyboard once the next photo is open.
  click({place.x() + 2 * 26 + 13, place.y() + 13});
  const QImage screen = shot();
  ASSERT_TRUE(x("xprop WM_NAME -id " + photoWindow()).contains("2-meadow.jpg  100%")) << "no next picture";
  expectCentred(screen, Picture(kSamples + "/2-meadow.jpg"), clientRect(photoWindow()));
  x("xdotool key Down Down Next");
  shot();
  EXPECT_TRUE(x("xprop WM_NAME -id " + photoWindow()).contains("2-meadow.jpg  100%"))
      << "the zoom changed through a box the user cannot see";
}

TEST_F(ViewOnScreen, TinyPictureGetsAWindowItsTitleBarButtonsFitIn) {
  const QString file = dir_.filePath("tiny.png");
  const QImage tiny = picture_test::scene(40, 30);
  ASSERT_TRUE(tiny.save(file));
  ASSERT_TRUE(start({file}));
  const QRect client = clientRect(photoWindow());
  // The window manager's title bar: the child of the frame as wide as the client, above it.
  const QString frame =
      x("xwininfo -children -id " + photoWindow()).section("Parent window id: ", 1).section(' ', 0, 0);
  QString titleBar;
  QSize barSize;
  for (const auto& [id, rect] : children(frame))
    if (rect.width() == client.width() && rect.height() > 8 && rect.bottom() < client.y())
      titleBar = id, barSize = rect.size();
  ASSERT_FALSE(titleBar.isEmpty()) << "no title bar";
  // Its icon, caption and buttons (those laid out, below the grips along its
  // top edge) each stand whole inside it, side by side.
  std::vector<QRect> boxes;
  for (const auto& [id, rect] : children(titleBar))
    if (rect.y() > 0 && rect.width() > 4 && rect.height() > 4) boxes.push_back(rect);
  ASSERT_GE(boxes.size(), 3u) << "no buttons on the title bar";
  for (size_t i = 0; i < boxes.size(); ++i) {
    EXPECT_TRUE(QRect(QPoint(0, 0), barSize).contains(boxes[i])) << "a box is cut at " << boxes[i].x();
    for (size_t j = i + 1; j < boxes.size(); ++j)
      EXPECT_FALSE(boxes[i].intersects(boxes[j])) << "boxes overlap at " << boxes[i].x();
  }
  expectCentred(shot(), tiny, client);
}

TEST_F(ViewOnScreen, TrackClicksPageTheWheelScrollsAndTheMenuOpensAtThePointer) {
  // A 2000 x 3000 coded picture: at 100 % its window fills the screen, with
  // the vertical bar down the right edge and the horizontal one at the bottom.
  const QString file = dir_.filePath("coded.png");
  ASSERT_TRUE(CodedPicture(2000, 3000).save(file));
  ASSERT_TRUE(start({file}));
  const QPoint probe(400, 400);
  auto placeAtProbe = [&] { return PlaceInCodedPicture(shot().pixel(probe)); };
  const QPoint start = placeAtProbe();
  click({kScreenWidth - 8, kScreenHeight * 4 / 5});
  const QPoint paged = placeAtProbe();
  EXPECT_EQ(paged.x(), start.x());
  EXPECT_GT(paged.y() - start.y(), kScreenHeight * 3 / 4) << "a track click does not page by the view's height";
  EXPECT_LT(paged.y() - start.y(), kScreenHeight);
  click({600, 500}, 4);
  const QPoint wheeled = placeAtProbe();
  EXPECT_LT(wheeled.y(), paged.y()) << "the wheel does not scroll up";
  EXPECT_GT(wheeled.y(), start.y());
  x("xdotool keydown shift click 5 keyup shift");
  const QPoint sideways = placeAtProbe();
  EXPECT_GT(sideways.x(), wheeled.x()) << "Shift with the wheel does not scroll sideways";
  EXPECT_EQ(sideways.y(), wheeled.y());
  // On the scrolled picture the photo menu opens at the pointer: its light
  // face starts there (the picture's pixels are never light in blue).
  const QPoint pointer(500, 400);
  ASSERT_GT(PlaceInCodedPicture(shot().pixel(pointer)).y(), pointer.y() + 100) << "the picture did not scroll";
  click(pointer, 3);
  EXPECT_GT(ShareOf(shot(), QRect(pointer + QPoint(4, 4), QSize(40, 12)), kWhite, 100), 0.5)
      << "no menu at the pointer";
}

}  // namespace
