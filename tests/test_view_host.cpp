// korvena-view's command line, its list of pictures and its answers to ThumbNav.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "apps/view/options.h"
#include "apps/view/photo_list.h"
#include "apps/view/viewer_host.h"
#include "tests/component_fixture.h"

namespace korvena::host {
namespace {

TEST(ViewOptions, ReadsEveryOptionWithDefaultsForTheRestAndNamesMistakes) {
  const ParseResult r =
      ParseOptions({"--new-window", "--slideshow", "5", "--blank-screen", "--details", "--screenshot=out/a.png",
                    "--screenshot-delay", "0", "photos", "-", "--", "--odd-name.jpg"});
  ASSERT_EQ(r.error, "");
  EXPECT_TRUE(r.options.newWindow && r.options.blankScreen && r.options.details);
  EXPECT_EQ(std::tuple(r.options.slideshowSeconds, r.options.screenshot, r.options.screenshotDelayMs),
            std::tuple(std::optional(5u), std::string("out/a.png"), 0u));
  EXPECT_EQ(r.options.paths, (std::vector<std::string>{"photos", "-", "--odd-name.jpg"}));
  const Options defaults = ParseOptions({"samples"}).options;
  EXPECT_FALSE(defaults.newWindow || defaults.blankScreen || defaults.details || defaults.slideshowSeconds);
  EXPECT_EQ(defaults.screenshotDelayMs, 1500u);
  EXPECT_TRUE(ParseOptions({"-h"}).options.help);  // needs no path
  EXPECT_EQ(ParseOptions({"-h"}).error, "");
  // Slideshow seconds stay within the toolbar's boxes.
  EXPECT_EQ(ParseOptions({"--slideshow", "1", "x"}).options.slideshowSeconds, 1u);
  EXPECT_EQ(ParseOptions({"--slideshow", "59999", "x"}).options.slideshowSeconds, 59999u);  // 999 min 59 s
  for (const char* bad : {"0", "60000", "-3", "2.5", "5s", "", " 5", "99999999999999999999"}) {
    const ParseResult r = ParseOptions({"--slideshow", bad, "x"});
    EXPECT_NE(r.error.find("--slideshow needs whole seconds"), std::string::npos) << bad << ": " << r.error;
  }
  // Mistakes are named.
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{}, "no folder or picture given"},
      {{"--blank-screen"}, "no folder or picture given"},
      {{"x", "--screenshot"}, "--screenshot needs a value"},
      {{"x", "--screenshot="}, "--screenshot needs a file name"},
      {{"x", "--new-window=yes"}, "--new-window takes no value"},
      {{"x", "--fullscreen"}, "unknown option --fullscreen"},
      {{"x", "-n"}, "unknown option -n"}};
  for (const auto& [args, error] : cases) EXPECT_EQ(ParseOptions(args).error, error);
  EXPECT_NE(ParseOptions({"x", "--screenshot-delay", "61000"}).error, "");
}

class ViewPhotoList : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  QString touch(const QString& relative) {
    const QString path = dir_.filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    return path;
  }
  QTemporaryDir dir_;
  const QSet<QString> suffixes_ = PictureSuffixes();
};

// Natural order: numbers compare by value and case is ignored.
TEST_F(ViewPhotoList, FoldersGiveTheirPicturesInNaturalOrderFilesAreTakenAsTheyAreMissingOnesNamed) {
  for (const char* name : {"img12.jpg", "Img2.PNG", "img1.jpeg", "notes.txt", "img3", ".hidden5.jpg", "album.jpg"})
    touch(name);
  touch("sub/img0.jpg");  // subfolders are not searched
  const QString single = touch("sub/z-single.txt");
  PhotoList list;
  const auto error = list.addPaths({single, dir_.filePath("gone"), dir_.path()}, suffixes_);
  ASSERT_TRUE(error.has_value());
  EXPECT_TRUE(error->contains("no such file or folder")) << error->toStdString();
  QStringList found;
  for (const QString& f : list.files()) found << QFileInfo(f).fileName();
  EXPECT_TRUE(found.removeOne(".hidden5.jpg"));
  EXPECT_EQ(found, (QStringList{"z-single.txt", "album.jpg", "img1.jpeg", "Img2.PNG", "img12.jpg"}));
  EXPECT_TRUE(QFileInfo(list.files().first()).isAbsolute());
  EXPECT_FALSE(suffixes_.contains("txt"));
}

TEST_F(ViewPhotoList, NamesThatAreNotUtf8StayAsTheFileSystemHoldsThem) {
  const QByteArray folder = QFile::encodeName(dir_.path());
  const QByteArray name = folder + "/caf\xE9 \xFF.jpg";
  ::close(::open(name.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
  PhotoList list;
  EXPECT_FALSE(list.addPath(folder, suffixes_).has_value());                    // listed from the folder
  EXPECT_FALSE(list.addPaths(QList<QByteArray>{name}, suffixes_).has_value());  // named itself
  EXPECT_EQ(list.paths(), (QList<QByteArray>{name, name}));
}

TEST_F(ViewPhotoList, MovesAnswerThumbNavAndFlagBothEnds) {
  for (const char* name : {"1.jpg", "2.jpg", "3.jpg"}) touch(name);
  PhotoList list;
  list.addPath(dir_.path(), suffixes_);
  ASSERT_EQ(list.size(), 3);
  // Direction (1 first, 2 previous, 3 next, 4 last), the picture to open, the end flag.
  const struct {
    uint8_t direction;
    std::optional<qsizetype> opened;
    bool end;
  } moves[] = {{3, 1, false},           {3, 2, true}, {3, std::nullopt, true}, {2, 1, false},          {1, 0, true},
               {2, std::nullopt, true}, {4, 2, true}, {0, std::nullopt, true}, {5, std::nullopt, true}};
  for (const auto& m : moves) {
    bool end = false;
    EXPECT_EQ(list.move(m.direction, end), m.opened) << int(m.direction) << " from " << list.current();
    EXPECT_EQ(end, m.end);
  }
  EXPECT_EQ(list.current(), 2);
  // One picture is both ends; an empty list moves nowhere.
  PhotoList one;
  one.addPath(touch("one/only.jpg"), suffixes_);
  bool end = false;
  for (uint8_t direction : {1, 2, 3, 4}) EXPECT_TRUE((end = false, one.move(direction, end), end)) << int(direction);
  EXPECT_EQ(PhotoList().move(3, end), std::nullopt);
  EXPECT_TRUE(end);
}

// The host on the component itself (headless): start-up options. Its answers
// to the toolbar's buttons are the list's moves (tested above); the slideshow
// below reads their end flag.
class ViewHostOnComponent : public fixture::ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    // Named so that plain character order would differ: p1, p2, p10.
    picture("p10.png", 30, 20, Qt::red);
    picture("p2.png", 40, 30, Qt::green);
    picture("p1.png", 50, 40, Qt::blue);
    ASSERT_FALSE(list.addPath(QString::fromStdString(dir.string()), PictureSuffixes()).has_value());
  }
  // The file the current photo window shows, as its image-list entry names it.
  std::string shown() {
    const kit::ComboBox& names = bar().cboImageName;
    return names.listIndex() < 0 ? std::string() : names.itemText(names.listIndex());
  }
  // Takes over ThumbNav from the fixture's host, as korvena-view does.
  void start(void (*set)(Options&)) {
    Options options;
    set(options);
    viewer = std::make_unique<ViewerHost>(app, list);
    viewer->start(options);
  }
  PhotoList list;
  std::unique_ptr<ViewerHost> viewer;
};

// The blank-screen and details options show on the screen (the end-to-end tests).
TEST_F(ViewHostOnComponent, NewWindowOptionOpensEachPictureInItsOwnWindow) {
  start([](Options& o) { o.newWindow = true; });
  EXPECT_TRUE(app.newWindowMode());
  clickButton("MoveNext");
  clickButton("MoveNext");
  EXPECT_EQ(bar().cboImageName.listCount(), 3);
  EXPECT_EQ(shown(), "p10.png");
}

TEST_F(ViewHostOnComponent, SlideshowOptionRunsTheShowFromTheFirstPicture) {
  start([](Options& o) { o.slideshowSeconds = 90; });  // past a minute: the minute box takes the minutes
  EXPECT_EQ(toolbar().tag(), "Autoslide");
  EXPECT_FALSE(toolbar().visible());
  EXPECT_EQ(bar().txtMinute.text(), "1");
  EXPECT_EQ(bar().txtSecond.text(), "30");
  advance(89999);
  EXPECT_EQ(shown(), "p1.png");
  // At the end the next tick wraps (Auto-Repeat is on).
  for (const auto& [wait, next] : {std::pair{1, "p2.png"}, {90000, "p10.png"}, {90000, "p1.png"}}) {
    advance(wait);
    EXPECT_EQ(shown(), next);
  }
}

}  // namespace
}  // namespace korvena::host
