// korvena-view end to end: the program runs on a virtual X screen with a
// window manager, takes a screenshot of the whole screen, and the test
// looks at the pixels: the first photo where the top-left position puts it,
// the toolbar beside it, the black background with "Blank Screen".
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>

#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

const QString kSamples = QDir(QStringLiteral(KORVENA_TEST_DATA "/../../samples")).absolutePath();
const QString kFirstSample = kSamples + QStringLiteral("/1-sunset.jpg");
constexpr int kScreenWidth = 1280, kScreenHeight = 1024;
// The toolbar's design place: 9000 x 300 twips, at 15 twips a pixel.
constexpr int kToolbarLeft = 600, kToolbarTop = 20;

QString ViewProgram() {
  if (const char* env = std::getenv("KORVENA_VIEW"); env && *env) return QString::fromLocal8Bit(env);
#ifdef KORVENA_VIEW
  return QStringLiteral(KORVENA_VIEW);
#else
  // The test program is built in <build>/tests, the viewer in <build>.
  return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section('/', 0, -3) +
         QStringLiteral("/korvena-view");
#endif
}

struct ViewRun {
  int status = -1;  // exit code, -1 when it crashed or timed out
  QByteArray out, err;
};

ViewRun RunView(const QStringList& args, const QProcessEnvironment& env, int timeoutMs = 60000) {
  QProcess process;
  process.setProcessEnvironment(env);
  process.start(ViewProgram(), args);
  if (!process.waitForStarted(10000)) return {-1, {}, "did not start"};
  if (!process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished(5000);
    return {-1, process.readAllStandardOutput(), process.readAllStandardError() + "\n(timed out)"};
  }
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
          process.readAllStandardError()};
}

int ColourDistance(QRgb a, QRgb b) {
  return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
}

// Where the picture stands on the screen: the offset within the first
// maxDx x maxDy pixels at which the screen shows it, judged on a grid of
// points across the picture.
std::optional<QPoint> FindPicture(const QImage& screen, const QImage& picture, int maxDx, int maxDy) {
  auto meanDistance = [&](int dx, int dy, int steps) {
    long total = 0;
    int count = 0;
    for (int i = 0; i < steps; ++i) {
      for (int j = 0; j < steps; ++j) {
        const int x = (picture.width() - 1) * i / (steps - 1), y = (picture.height() - 1) * j / (steps - 1);
        if (x + dx >= screen.width() || y + dy >= screen.height()) return 1000.0;
        total += ColourDistance(screen.pixel(x + dx, y + dy), picture.pixel(x, y));
        ++count;
      }
    }
    return static_cast<double>(total) / count;
  };
  for (int dy = 0; dy <= maxDy; ++dy)
    for (int dx = 0; dx <= maxDx; ++dx)
      if (meanDistance(dx, dy, 9) < 15 && meanDistance(dx, dy, 41) < 12) return QPoint(dx, dy);
  return std::nullopt;
}

// Share of the pixels in a rectangle within `tolerance` of a colour.
double ShareOf(const QImage& image, const QRect& area, QRgb colour, int tolerance = 6) {
  int hits = 0, total = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x, ++total)
      if (ColourDistance(image.pixel(x, y), colour) <= tolerance) ++hits;
  return total ? static_cast<double>(hits) / total : 0;
}

int DistinctColours(const QImage& image, const QRect& area) {
  QSet<QRgb> colours;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) colours.insert(image.pixel(x, y) & 0xF0F0F0);
  return static_cast<int>(colours.size());
}

// Under LeakSanitizer the viewer, a whole Qt program on X, meets the
// process-lifetime allocations of the system's D-Bus library, which Qt's
// platform plugin loads: they are added to whatever suppressions the run
// already uses.
void SuppressSystemLeaks(QProcessEnvironment& env, const QTemporaryDir& dir) {
  QStringList options;
  QByteArray suppressions;
  const QString prefix = QStringLiteral("suppressions=");
  for (const QString& option : env.value(QStringLiteral("LSAN_OPTIONS")).split(':', Qt::SkipEmptyParts)) {
    if (!option.startsWith(prefix)) {
      options << option;
      continue;
    }
    QFile given(option.mid(prefix.size()));
    if (given.open(QIODevice::ReadOnly)) suppressions += given.readAll() + '\n';
  }
  suppressions += "leak:libdbus-1\n";
  const QString path = dir.filePath(QStringLiteral("lsan.supp"));
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) file.write(suppressions);
  options << prefix + path;
  env.insert(QStringLiteral("LSAN_OPTIONS"), options.join(':'));
}

// A virtual screen (white root window) with openbox managing it, for the
// tests of one suite.
class VirtualScreen {
 public:
  static std::unique_ptr<VirtualScreen> Start(QString& whyNot) {
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) {
      whyNot = QStringLiteral("Xvfb is not installed");
      return nullptr;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty()) {
      whyNot = QStringLiteral("openbox is not installed");
      return nullptr;
    }
    auto screen = std::unique_ptr<VirtualScreen>(new VirtualScreen);
    if (!screen->start(whyNot)) return nullptr;
    return screen;
  }
  ~VirtualScreen() {
    for (QProcess* p : {&wm_, &server_}) {
      if (p->state() == QProcess::NotRunning) continue;
      p->terminate();
      if (!p->waitForFinished(5000)) {
        p->kill();
        p->waitForFinished(2000);
      }
    }
  }
  QString display() const { return display_; }

 private:
  VirtualScreen() = default;
  bool start(QString& whyNot) {
    // The server and the window manager end with the test program, also
    // when it is killed.
    for (QProcess* p : {&server_, &wm_})
      p->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    // -displayfd 1: the server picks a free display and writes its number
    // to standard output once it accepts clients.
    server_.start(QStringLiteral("Xvfb"),
                  {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                   QStringLiteral("%1x%2x24").arg(kScreenWidth).arg(kScreenHeight), QStringLiteral("-wr"),
                   QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-noreset")});
    QElapsedTimer clock;
    clock.start();
    QByteArray number;
    while (!number.contains('\n') && clock.elapsed() < 15000) {
      if (!server_.waitForReadyRead(500) && server_.state() == QProcess::NotRunning) break;
      number += server_.readAllStandardOutput();
    }
    if (!number.contains('\n')) {
      whyNot = QStringLiteral("Xvfb did not start: ") + QString::fromLocal8Bit(server_.readAllStandardError());
      return false;
    }
    display_ = QStringLiteral(":") + QString::fromLatin1(number.trimmed());

    const QString ready = dir_.filePath(QStringLiteral("wm-ready"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    env.insert(QStringLiteral("HOME"), dir_.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path());
    wm_.setProcessEnvironment(env);
    wm_.start(QStringLiteral("openbox"),
              {QStringLiteral("--sm-disable"), QStringLiteral("--startup"), QStringLiteral("touch ") + ready});
    while (!QFile::exists(ready) && clock.elapsed() < 20000 && wm_.state() != QProcess::NotRunning)
      QThread::msleep(50);
    if (!QFile::exists(ready)) {
      whyNot = QStringLiteral("openbox did not start: ") + QString::fromLocal8Bit(wm_.readAllStandardError());
      return false;
    }
    return true;
  }

  QTemporaryDir dir_;
  QProcess server_, wm_;
  QString display_;
};

class ViewOnScreen : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!QFileInfo(ViewProgram()).isExecutable()) {
      whyNot_ = QStringLiteral("korvena-view is not built: ") + ViewProgram();
      return;
    }
    screen_ = VirtualScreen::Start(whyNot_).release();
  }
  static void TearDownTestSuite() {
    delete screen_;
    screen_ = nullptr;
  }
  void SetUp() override {
    if (!screen_) GTEST_SKIP() << whyNot_.toStdString();
    ASSERT_TRUE(dir_.isValid());
  }

  // Runs the viewer on the virtual screen with a settings store of its own
  // and returns its screenshot.
  QImage screenshot(const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), screen_->display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("KORVENA_REGISTRY_DIR"), dir_.filePath(QStringLiteral("settings")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path());
    env.insert(QStringLiteral("HOME"), dir_.path());
    SuppressSystemLeaks(env, dir_);
    const QString file = dir_.filePath(QStringLiteral("shot.png"));
    QFile::remove(file);
    const ViewRun run = RunView(QStringList{QStringLiteral("--screenshot"), file} + args, env);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out.trimmed(), file.toLocal8Bit()) << "the viewer prints where the screenshot is";
    QImage image(file);
    EXPECT_FALSE(image.isNull()) << "no screenshot";
    return image.convertToFormat(QImage::Format_RGB32);
  }

  static QImage picture(const QString& file) { return QImage(file).convertToFormat(QImage::Format_RGB32); }

  // The collapsed toolbar stands at its design place, right of a photo at
  // the top left: a light window with several colours (its icons), and its
  // frame's top edge where the toolbar's top is, not above it.
  void expectToolbar(const QImage& shot, QRgb background) {
    const QRect bar(kToolbarLeft + 4, kToolbarTop + 4, 150, 30);
    EXPECT_LT(ShareOf(shot, bar, background), 0.2) << "no toolbar where it opens";
    EXPECT_GE(DistinctColours(shot, bar), 12) << "the toolbar shows no icons";
    const QRect above(kToolbarLeft + 4, 1, 150, kToolbarTop - 3);
    EXPECT_GT(ShareOf(shot, above, background), 0.98) << "the toolbar stands above its place";
  }

  // Below the button row, right of the buttons: the zoom box, the image
  // list and the option pages stand there once the panel is open.
  static QRect detailsArea() { return QRect(kToolbarLeft + 200, kToolbarTop + 60, 200, 80); }

  static VirtualScreen* screen_;
  static QString whyNot_;
  QTemporaryDir dir_;
};

VirtualScreen* ViewOnScreen::screen_ = nullptr;
QString ViewOnScreen::whyNot_;

TEST_F(ViewOnScreen, FirstPhotoAtTopLeftAndTheToolbarBesideIt) {
  const QImage shot = screenshot({kSamples});
  ASSERT_EQ(shot.size(), QSize(kScreenWidth, kScreenHeight));
  const QImage first = picture(kFirstSample);
  ASSERT_FALSE(first.isNull());
  // Position 11 puts the window's outer corner at the screen's: only the
  // frame lies between the screen's corner and the picture.
  const auto at = FindPicture(shot, first, 40, 60);
  ASSERT_TRUE(at.has_value()) << "the first photo is not at the top left, at 100%";
  // The rest of the desktop shows the root window: no blank background.
  const QRect free(900, 700, 360, 300);
  EXPECT_GT(ShareOf(shot, free, qRgb(255, 255, 255)), 0.98);
  expectToolbar(shot, qRgb(255, 255, 255));
  // Collapsed: nothing of the toolbar below its button row.
  EXPECT_GT(ShareOf(shot, detailsArea(), qRgb(255, 255, 255)), 0.98) << "the toolbar does not start collapsed";
  // Any other sample is not what is shown there.
  EXPECT_FALSE(FindPicture(shot, picture(kSamples + "/2-meadow.jpg"), 40, 60).has_value());
}

TEST_F(ViewOnScreen, BlankScreenPutsBlackBehindThePhoto) {
  const QImage shot = screenshot({QStringLiteral("--blank-screen"), kSamples});
  ASSERT_EQ(shot.size(), QSize(kScreenWidth, kScreenHeight));
  EXPECT_TRUE(FindPicture(shot, picture(kFirstSample), 40, 60).has_value()) << "the photo is not in front";
  for (const QRect& area : {QRect(900, 700, 360, 300), QRect(0, 600, 300, 400), QRect(1000, 200, 270, 200)})
    EXPECT_GT(ShareOf(shot, area, qRgb(0, 0, 0), 0), 0.999) << "not black at " << area.x() << "," << area.y();
  expectToolbar(shot, qRgb(0, 0, 0));
}

TEST_F(ViewOnScreen, DetailsPanelWidensTheToolbar) {
  const QImage shot = screenshot({QStringLiteral("--details"), kSamples});
  ASSERT_EQ(shot.size(), QSize(kScreenWidth, kScreenHeight));
  EXPECT_LT(ShareOf(shot, detailsArea(), qRgb(255, 255, 255)), 0.2) << "no option pages";
  EXPECT_GE(DistinctColours(shot, detailsArea()), 4) << "the pages show nothing";
  // The zoom box and the image list sit right of the buttons.
  EXPECT_LT(ShareOf(shot, QRect(kToolbarLeft + 200, kToolbarTop + 25, 250, 20), qRgb(255, 255, 255)), 0.9);
  EXPECT_TRUE(FindPicture(shot, picture(kFirstSample), 40, 60).has_value());
}

TEST_F(ViewOnScreen, FolderOpensWithItsFirstPictureInNaturalOrder) {
  // By plain character order "pic10" comes first; read as numbers, "pic9"
  // does. Files that are not pictures are left out.
  const QString folder = dir_.filePath(QStringLiteral("pictures"));
  ASSERT_TRUE(QDir().mkpath(folder));
  auto paint = [&](const QString& name, QColor colour) {
    QImage image(240, 180, QImage::Format_RGB32);
    image.fill(colour);
    for (int y = 0; y < 180; y += 20)
      for (int x = 0; x < 240; ++x) image.setPixel(x, y, qRgb(255, 255, 255));
    ASSERT_TRUE(image.save(folder + "/" + name));
  };
  paint(QStringLiteral("pic10.png"), QColor(200, 30, 30));
  paint(QStringLiteral("pic9.png"), QColor(30, 160, 60));
  QFile notes(folder + QStringLiteral("/a-notes.txt"));
  ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
  notes.write("not a picture");
  notes.close();
  const QImage shot = screenshot({folder});
  EXPECT_TRUE(FindPicture(shot, picture(folder + "/pic9.png"), 40, 60).has_value()) << "pic9 is not shown first";
  EXPECT_FALSE(FindPicture(shot, picture(folder + "/pic10.png"), 40, 60).has_value());
}

TEST_F(ViewOnScreen, UndecodableFirstPictureShowsTheErrorBox) {
  // The component reports the file in a message box; the viewer neither
  // crashes nor hangs on it, and the screenshot shows the box.
  const QString folder = dir_.filePath(QStringLiteral("broken"));
  ASSERT_TRUE(QDir().mkpath(folder));
  QFile bad(folder + QStringLiteral("/0-broken.jpg"));
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("this is not a JPEG file");
  bad.close();
  ASSERT_TRUE(QFile::copy(kFirstSample, folder + QStringLiteral("/1-sunset.jpg")));
  const QImage shot = screenshot({folder});
  ASSERT_EQ(shot.size(), QSize(kScreenWidth, kScreenHeight));
  const QRect centre(kScreenWidth / 2 - 60, kScreenHeight / 2 - 40, 120, 60);
  EXPECT_LT(ShareOf(shot, centre, qRgb(255, 255, 255)), 0.5) << "no message box in the middle of the screen";
}

// Command lines that fail before any window opens.
class ViewCommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!QFileInfo(ViewProgram()).isExecutable()) GTEST_SKIP() << "korvena-view is not built: " << ViewProgram().toStdString();
  }
  static QProcessEnvironment withoutDisplay() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QString::fromLatin1(name));
    return env;
  }
};

TEST_F(ViewCommandLine, MistakesGetAMessageAndNoWindow) {
  ViewRun run = RunView({QStringLiteral("/no/such/folder")}, withoutDisplay());
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.err.contains("no such file or folder: /no/such/folder")) << run.err.toStdString();

  run = RunView({}, withoutDisplay());
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(run.err.contains("no folder or picture given"));
  EXPECT_TRUE(run.err.contains("Usage: korvena-view"));

  run = RunView({QStringLiteral("--slideshow"), QStringLiteral("0"), kSamples}, withoutDisplay());
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(run.err.contains("--slideshow needs whole seconds")) << run.err.toStdString();

  run = RunView({QStringLiteral("--zoom"), kSamples}, withoutDisplay());
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(run.err.contains("unknown option --zoom"));
}

TEST_F(ViewCommandLine, NoDisplayIsExplainedNotACrash) {
  const ViewRun run = RunView({kSamples}, withoutDisplay());
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.err.contains("no display")) << run.err.toStdString();
}

TEST_F(ViewCommandLine, HelpListsTheOptions) {
  const ViewRun run = RunView({QStringLiteral("--help")}, withoutDisplay());
  EXPECT_EQ(run.status, 0);
  for (const char* option : {"--new-window", "--slideshow", "--blank-screen", "--screenshot"})
    EXPECT_TRUE(run.out.contains(option)) << option;
}

// ---- F1 help and the desktop: the viewer runs on while xdotool drives it ----

class ViewDriven : public ViewOnScreen {
 protected:
  void SetUp() override {
    ViewOnScreen::SetUp();
    if (IsSkipped()) return;
    for (const char* tool : {"xdotool", "xprop"})
      if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) GTEST_SKIP() << tool << " is missing";
    helpFoldersBefore_ = helpFoldersInTmp();
    // Its own temporary and runtime folders, so that what it leaves there shows.
    for (const char* name : {"TMPDIR", "XDG_RUNTIME_DIR"}) {
      const QString folder = dir_.filePath(QString::fromLatin1(name));
      ASSERT_TRUE(QDir().mkpath(folder));
      QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
      env_.insert(QString::fromLatin1(name), folder);
    }
    env_.insert(QStringLiteral("DISPLAY"), screen_->display());
    env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env_.insert(QStringLiteral("KORVENA_REGISTRY_DIR"), dir_.filePath(QStringLiteral("settings")));
    env_.insert(QStringLiteral("HOME"), dir_.path());
    env_.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path());
    SuppressSystemLeaks(env_, dir_);
    view_.setProcessEnvironment(env_);
    view_.start(ViewProgram(), {kSamples});
    ASSERT_TRUE(view_.waitForStarted(10000));
  }
  void TearDown() override {
    view_.terminate();
    if (!view_.waitForFinished(10000)) view_.kill();
  }
  // Runs a tool on the screen to its end; its standard output.
  QString tool(const char* program, const QStringList& args) {
    QProcess process;
    process.setProcessEnvironment(env_);
    process.start(QString::fromLatin1(program), args);
    if (!process.waitForFinished(15000)) process.kill();
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
  }
  // The visible windows whose title holds the text, once there is one.
  QStringList windowsNamed(const QString& text) {
    return tool("xdotool", {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                            QStringLiteral("--name"), text})
        .split('\n', Qt::SkipEmptyParts);
  }
  void pressF1In(const QString& photo) {
    tool("xdotool", {QStringLiteral("windowactivate"), QStringLiteral("--sync"), photo});
    ASSERT_EQ(tool("xdotool", {QStringLiteral("getactivewindow")}), photo);
    tool("xdotool", {QStringLiteral("key"), QStringLiteral("F1")});
  }
  // Watches the root window's _NET_ACTIVE_WINDOW until it names the window.
  bool becomesActive(const QString& window) {
    QProcess spy;
    spy.setProcessEnvironment(env_);
    spy.start(QStringLiteral("xprop"),
              {QStringLiteral("-root"), QStringLiteral("-spy"), QStringLiteral("_NET_ACTIVE_WINDOW")});
    const QByteArray id = "0x" + QByteArray::number(window.toULongLong(), 16);
    QByteArray seen;
    while (!seen.trimmed().split('\n').last().endsWith(id) && spy.waitForReadyRead(15000))
      seen += spy.readAllStandardOutput();
    spy.kill();
    spy.waitForFinished(2000);
    return seen.trimmed().split('\n').last().endsWith(id);
  }
  static QStringList helpFoldersInTmp() {
    return QDir(QStringLiteral("/tmp")).entryList({QStringLiteral("korvena-help-*")}, QDir::AllEntries);
  }

  QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();
  QProcess view_;
  QStringList helpFoldersBefore_;
};

TEST_F(ViewDriven, F1ShowsTheTopicInOneHelpWindowThatComesToTheFront) {
  const QStringList photos = windowsNamed(QStringLiteral("1-sunset.jpg"));
  ASSERT_EQ(photos.size(), 1) << "no photo window";
  const QString photo = photos.first();

  pressF1In(photo);
  const QStringList helps =
      windowsNamed(QStringLiteral("The photo window and the toolbar - Korvena Photo Viewer Help"));
  ASSERT_EQ(helps.size(), 1) << "no help window at the photo window's topic";
  const QString help = helps.first();
  EXPECT_TRUE(becomesActive(help)) << "the help window is not in front";

  // A second F1 from the photo window, now in front, reuses the help window
  // and brings it forward again.
  pressF1In(photo);
  EXPECT_TRUE(becomesActive(help)) << "the help window did not come to the front again";
  EXPECT_EQ(windowsNamed(QStringLiteral("Korvena Photo Viewer Help")), QStringList{help});

  // The windows carry the component's icon and the program's class.
  for (const QString& window : {photo, help}) {
    EXPECT_TRUE(tool("xprop", {QStringLiteral("-id"), window, QStringLiteral("_NET_WM_ICON")})
                    .contains(QStringLiteral("Icon (48 x 48)")));
    EXPECT_TRUE(tool("xprop", {QStringLiteral("-id"), window, QStringLiteral("WM_CLASS")})
                    .contains(QStringLiteral("\"korvena-view\"")));
  }
  // Nothing was unpacked for the help.
  const QDir tmp(env_.value(QStringLiteral("TMPDIR")));
  EXPECT_EQ(tmp.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).join(' '), QString());
  EXPECT_EQ(helpFoldersInTmp(), helpFoldersBefore_);
}

// ---- The viewer worked by hand under the window manager ----
// korvena-view left running on the virtual screen, worked with xdotool as a
// user would (clicks, keys), judged by screenshots and by the geometry and
// hints X reports for its windows.
class ViewWorkedByHand : public ViewOnScreen {
 protected:
  void TearDown() override {
    view_.terminate();
    if (!view_.waitForFinished(10000)) view_.kill();
    view_.waitForFinished(5000);
  }

  // Starts the viewer; true once a photo window of it shows and the screen is still.
  bool start(const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), screen_->display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("KORVENA_REGISTRY_DIR"), dir_.filePath(QStringLiteral("settings")));
    env.insert(QStringLiteral("HOME"), dir_.path());
    SuppressSystemLeaks(env, dir_);
    view_.setProcessEnvironment(env);
    view_.start(ViewProgram(), args);
    QElapsedTimer clock;
    clock.start();
    while (photoWindow().isEmpty() && clock.elapsed() < 30000) QThread::msleep(100);
    return !photoWindow().isEmpty() && !shot().isNull();
  }

  // Runs an X tool (words split at blanks) on the virtual screen; its output.
  QString x(const QString& command) {
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), screen_->display());
    tool.setProcessEnvironment(env);
    const QStringList words = command.split(' ', Qt::SkipEmptyParts);
    tool.start(words.front(), words.mid(1));
    tool.waitForFinished(20000);
    return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
  }
  // The viewer's shown windows whose titles match: photo windows carry the
  // zoom rate, the toolbar and the background have blank titles.
  QStringList windows(const char* title) {
    return x(QStringLiteral("xdotool search --all --onlyvisible --pid %1 --name %2")
                 .arg(view_.processId())
                 .arg(QLatin1String(title)))
        .split('\n', Qt::SkipEmptyParts);
  }
  QString photoWindow() { return windows("%$").value(0); }
  QString blankWindow(bool wholeScreen) {
    for (const QString& w : windows("^[[:space:]]$"))
      if ((clientRect(w).size() == QSize(kScreenWidth, kScreenHeight)) == wholeScreen) return w;
    return {};
  }
  // A window's client area on the screen.
  QRect clientRect(const QString& window) {
    const QString info = x(QStringLiteral("xwininfo -id ") + window);
    auto value = [&](const QString& label) { return info.section(label + ':', 1).section('\n', 0, 0).toInt(); };
    return {value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"), value("Height")};
  }
  // A window's children (id, place in it).
  std::vector<std::pair<QString, QRect>> children(const QString& window) {
    static const QRegularExpression line(QStringLiteral(R"((0x[0-9a-f]+) .*\s(\d+)x(\d+)\+(-?\d+)\+(-?\d+)\s)"));
    std::vector<std::pair<QString, QRect>> found;
    for (const QString& text : x(QStringLiteral("xwininfo -children -id ") + window).split('\n'))
      if (const auto m = line.match(text); m.hasMatch())
        found.emplace_back(m.captured(1), QRect(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(2).toInt(),
                                                m.captured(3).toInt()));
    return found;
  }

  // The whole screen once it has stopped changing for a while (the window
  // manager and the viewer have answered what was done).
  QImage shot() {
    const QString file = dir_.filePath(QStringLiteral("root.png"));
    QImage last;
    for (int i = 0, same = 0; i < 60 && same < 2; ++i) {
      QThread::msleep(200);
      x(QStringLiteral("import -window root ") + file);
      QImage now = QImage(file).convertToFormat(QImage::Format_RGB32);
      same = !now.isNull() && now == last ? same + 1 : 0;
      last = now;
    }
    return last;
  }
  void click(int x, int y, int times = 1) {
    this->x(QStringLiteral("xdotool mousemove %1 %2 click --repeat %3 --delay 80 1").arg(x).arg(y).arg(times));
  }

  // The picture stands where centring puts it in the client area.
  void expectCentred(const QImage& screen, const QImage& picture, const QRect& client) {
    const auto at = FindPicture(screen.copy(client), picture, client.width(), client.height());
    ASSERT_TRUE(at.has_value()) << "the picture is not in the window";
    EXPECT_NEAR(at->x(), (client.width() - picture.width()) / 2.0, 1);
    EXPECT_NEAR(at->y(), (client.height() - picture.height()) / 2.0, 1);
  }

  QProcess view_;
};

TEST_F(ViewWorkedByHand, BlankScreenStaysBehindThePhotosWhateverActivatesIt) {
  ASSERT_TRUE(start({QStringLiteral("--blank-screen"), kFirstSample}));
  const QString state = x(QStringLiteral("xprop -id %1 _NET_WM_STATE").arg(blankWindow(true)));
  EXPECT_TRUE(state.contains("SKIP_TASKBAR") && state.contains("SKIP_PAGER")) << state.toStdString();
  const QImage sunset = picture(kFirstSample);
  for (const char* activation : {"mousemove 1100 900 click 1", "key alt+Tab"}) {
    SCOPED_TRACE(activation);
    x(QStringLiteral("xdotool ") + activation);
    const QImage screen = shot();
    EXPECT_TRUE(FindPicture(screen, sunset, 40, 60).has_value()) << "the photo is hidden";
    expectToolbar(screen, qRgb(0, 0, 0));
  }
  // With no photo left, the background never covers the toolbar.
  click(200, 200);
  x(QStringLiteral("xdotool key alt+F4"));
  click(1100, 900);
  const QImage screen = shot();
  EXPECT_FALSE(FindPicture(screen, sunset, 40, 60).has_value()) << "the photo did not close";
  expectToolbar(screen, qRgb(0, 0, 0));
}

TEST_F(ViewWorkedByHand, FirstPhotoWindowFitsItsPictureExactly) {
  ASSERT_TRUE(start({kFirstSample}));
  EXPECT_EQ(clientRect(photoWindow()).size(), picture(kFirstSample).size());
}

TEST_F(ViewWorkedByHand, NextInAMaximisedWindowCentresThePicture) {
  ASSERT_TRUE(start({kSamples}));
  const QRect before = clientRect(photoWindow());
  click(before.x() + 60, before.y() - 8, 2);  // a double click on the title bar maximises
  shot();
  ASSERT_GT(clientRect(photoWindow()).width(), kScreenWidth - 10) << "the window is not maximised";
  const QRect bar = clientRect(blankWindow(false));
  click(bar.x() + 65, bar.y() + 13);  // the toolbar's third button, "MoveNext"
  const QImage screen = shot();
  ASSERT_TRUE(x(QStringLiteral("xprop WM_NAME -id ") + photoWindow()).contains("2-meadow.jpg")) << "no next picture";
  expectCentred(screen, picture(kSamples + "/2-meadow.jpg"), clientRect(photoWindow()));
}

TEST_F(ViewWorkedByHand, ToolbarIsAPaletteWithACloseBoxOnly) {
  ASSERT_TRUE(start({kFirstSample}));
  const QString bar = blankWindow(false);
  const QRect place = clientRect(bar);
  const QString actions = x(QStringLiteral("xprop _NET_WM_ALLOWED_ACTIONS -id ") + bar);
  EXPECT_TRUE(actions.contains("CLOSE") && !actions.contains("MINIMIZE") && !actions.contains("MAXIMIZE"))
      << actions.toStdString();
  click(place.x() + place.width() / 2, place.y() - 8, 2);  // a double click on its title bar
  shot();
  EXPECT_EQ(clientRect(bar), place) << "the toolbar was maximised";
  // Minimised by the window system all the same, it comes back when a photo is activated.
  x(QStringLiteral("xdotool windowminimize ") + bar);
  click(200, 200);
  expectToolbar(shot(), qRgb(255, 255, 255));
}

TEST_F(ViewWorkedByHand, TinyPictureGetsAWindowItsTitleBarButtonsFitIn) {
  const QString file = dir_.filePath(QStringLiteral("tiny.png"));
  QImage tiny(40, 30, QImage::Format_RGB32);
  tiny.fill(QColor(200, 30, 30));
  for (int y = 8; y < 22; ++y)
    for (int x = 10; x < 30; ++x) tiny.setPixel(x, y, qRgb(30, 60, 200));
  ASSERT_TRUE(tiny.save(file));
  ASSERT_TRUE(start({file}));
  const QRect client = clientRect(photoWindow());
  // The window manager's title bar: the child of the frame as wide as the client, above it.
  const QString frame = x(QStringLiteral("xwininfo -children -id ") + photoWindow())
                            .section(QStringLiteral("Parent window id: "), 1)
                            .section(' ', 0, 0);
  QString titleBar;
  QSize barSize;
  for (const auto& [id, rect] : children(frame))
    if (rect.width() == client.width() && rect.height() > 8 && rect.bottom() < client.y())
      titleBar = id, barSize = rect.size();
  ASSERT_FALSE(titleBar.isEmpty()) << "no title bar";
  // Its icon, caption and buttons (those laid out, below the grips along
  // its top edge) each stand whole inside it, side by side.
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

// ---- The user's mouse and keys on a running viewer (xdotool) ----

// A picture whose every pixel tells where in the picture it is: red is x and
// green is y modulo 256, blue holds the multiples of 256 (x high, y low).
QImage CodedPicture(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(x % 256, y % 256, (x / 256) * 16 + y / 256));
  return image;
}
QPoint PlaceInCodedPicture(QRgb p) { return {qBlue(p) / 16 * 256 + qRed(p), qBlue(p) % 16 * 256 + qGreen(p)}; }

class ViewMouseAndKeys : public ViewOnScreen {
 protected:
  void SetUp() override {
    ViewOnScreen::SetUp();
    if (IsSkipped()) return;
    for (const char* tool : {"xdotool", "import"})
      if (QStandardPaths::findExecutable(tool).isEmpty()) GTEST_SKIP() << tool << " is missing";
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert("DISPLAY", screen_->display());
    env_.insert("QT_QPA_PLATFORM", "xcb");
    env_.insert("KORVENA_REGISTRY_DIR", dir_.filePath("settings"));
    env_.insert("HOME", dir_.path());
    SuppressSystemLeaks(env_, dir_);
  }
  void TearDown() override {
    viewer_.terminate();
    if (!viewer_.waitForFinished(10000)) viewer_.kill();
  }

  // Starts the viewer and waits until a window titled `title` shows.
  bool launch(const QStringList& args, const QString& title) {
    viewer_.setProcessEnvironment(env_);
    viewer_.start(ViewProgram(), args);
    return viewer_.waitForStarted(10000) && shows(title) && !grab().isNull();
  }
  bool shows(const QString& title) { return !tool({"search", "--sync", "--onlyvisible", "--name", title}).isEmpty(); }
  // Runs xdotool on the virtual screen; its standard output.
  QString tool(const QStringList& args) {
    QProcess xdotool;
    xdotool.setProcessEnvironment(env_);
    xdotool.start("xdotool", args);
    xdotool.waitForFinished(20000);
    return QString::fromLocal8Bit(xdotool.readAllStandardOutput()).trimmed();
  }
  void click(QPoint at, int button) {
    tool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click", QString::number(button)});
  }
  void drag(QPoint from, QPoint to) {
    tool({"mousemove", QString::number(from.x()), QString::number(from.y()), "mousedown", "1", "mousemove",
          QString::number(to.x()), QString::number(to.y()), "mouseup", "1"});
  }
  // The screen once nothing on it changes any more.
  QImage grab() {
    QImage last;
    const QString file = dir_.filePath("grab.png");
    for (int i = 0; i < 40; ++i) {
      QProcess::execute("import", {"-display", screen_->display(), "-window", "root", file});
      QImage shot = QImage(file).convertToFormat(QImage::Format_RGB32);
      if (!last.isNull() && shot == last) return shot;
      last = shot;
      QThread::msleep(150);
    }
    return last;
  }
  // A 2000 x 3000 coded picture: at 100 % its window fills the screen, with
  // the vertical bar down the right edge and the horizontal one at the bottom.
  bool launchCoded() {
    const QString file = dir_.filePath("coded.png");
    return CodedPicture(2000, 3000).save(file) && launch({file}, "coded.png  100%");
  }

  QProcessEnvironment env_;
  QProcess viewer_;
};

TEST_F(ViewMouseAndKeys, TrackClicksPageAndTheWheelScrollsThePicture) {
  ASSERT_TRUE(launchCoded()) << "the picture is not shown";
  const QPoint probe(400, 400);
  const QPoint start = PlaceInCodedPicture(grab().pixel(probe));
  click({kScreenWidth - 8, kScreenHeight * 4 / 5}, 1);
  const QPoint paged = PlaceInCodedPicture(grab().pixel(probe));
  EXPECT_EQ(paged.x(), start.x());
  EXPECT_GT(paged.y() - start.y(), kScreenHeight * 3 / 4) << "a track click does not page by the view's height";
  EXPECT_LT(paged.y() - start.y(), kScreenHeight);

  click({600, 500}, 4);
  const QPoint wheeled = PlaceInCodedPicture(grab().pixel(probe));
  EXPECT_LT(wheeled.y(), paged.y()) << "the wheel does not scroll up";
  EXPECT_GT(wheeled.y(), start.y());
  tool({"keydown", "shift", "click", "5", "keyup", "shift"});
  const QPoint sideways = PlaceInCodedPicture(grab().pixel(probe));
  EXPECT_GT(sideways.x(), wheeled.x()) << "Shift with the wheel does not scroll sideways";
  EXPECT_EQ(sideways.y(), wheeled.y());
}

TEST_F(ViewMouseAndKeys, RightClickMenuOpensAtThePointerOnAScrolledPicture) {
  ASSERT_TRUE(launchCoded());
  drag({kScreenWidth - 8, 48}, {kScreenWidth - 8, 448});
  drag({30, kScreenHeight - 8}, {430, kScreenHeight - 8});
  const QPoint pointer(500, 400);
  ASSERT_GT(PlaceInCodedPicture(grab().pixel(pointer)).y(), pointer.y() + 100) << "the thumb did not scroll";
  click(pointer, 3);
  const QImage shot = grab();
  // The menu's light face starts at the pointer; the picture's pixels are
  // never light in all three colours.
  const QRect face(pointer + QPoint(4, 4), QSize(40, 12));
  auto light = [](QRgb p) { return qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) > 200; };
  int lit = 0;
  for (int y = face.top(); y <= face.bottom(); ++y)
    for (int x = face.left(); x <= face.right(); ++x) lit += light(shot.pixel(x, y));
  EXPECT_GT(lit, face.width() * face.height() / 2) << "no menu at the pointer";
  tool({"key", "Escape"});
}

TEST_F(ViewMouseAndKeys, KeysOnTheCollapsedToolbarDoNotReachTheHiddenZoomBox) {
  ASSERT_TRUE(launch({kSamples}, "1-sunset.jpg  100%"));
  // "MoveNext", the third button (26 pixels each) below the title bar, gives
  // the toolbar the keyboard once the next photo is open.
  click({kToolbarLeft + 2 * 26 + 13, kToolbarTop + 32}, 1);
  ASSERT_TRUE(shows("2-meadow.jpg  100%"));
  tool({"key", "Down", "Down", "Next"});
  grab();
  EXPECT_FALSE(tool({"search", "--name", "2-meadow.jpg  100%"}).isEmpty())
      << "the zoom changed through a box the user cannot see";
}

}  // namespace
