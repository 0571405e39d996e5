// korvena-view's command line and its list of pictures: natural order, the
// folders and files it takes, and the moves that answer ThumbNav.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "apps/view/options.h"
#include "apps/view/photo_list.h"
#include "apps/view/viewer_host.h"
#include "tests/component_fixture.h"

namespace korvena::host {
namespace {

ParseResult Parse(std::vector<std::string> args) { return ParseOptions(args); }

TEST(ViewOptions, ReadsEveryOptionAndThePaths) {
  const ParseResult r = Parse({"--new-window", "--slideshow", "5", "--blank-screen", "--details", "--screenshot=out/a.png",
                               "--screenshot-delay", "0", "photos", "-", "--", "--odd-name.jpg"});
  ASSERT_EQ(r.error, "");
  EXPECT_TRUE(r.options.newWindow);
  EXPECT_TRUE(r.options.blankScreen);
  EXPECT_TRUE(r.options.details);
  EXPECT_EQ(r.options.slideshowSeconds, 5u);
  EXPECT_EQ(r.options.screenshot, "out/a.png");
  EXPECT_EQ(r.options.screenshotDelayMs, 0u);
  EXPECT_EQ(r.options.paths, (std::vector<std::string>{"photos", "-", "--odd-name.jpg"}));
}

TEST(ViewOptions, DefaultsWithOnlyAPath) {
  const ParseResult r = Parse({"samples"});
  ASSERT_EQ(r.error, "");
  EXPECT_FALSE(r.options.newWindow);
  EXPECT_FALSE(r.options.blankScreen);
  EXPECT_FALSE(r.options.details);
  EXPECT_FALSE(r.options.slideshowSeconds.has_value());
  EXPECT_EQ(r.options.screenshot, "");
  EXPECT_EQ(r.options.screenshotDelayMs, 1500u);
}

TEST(ViewOptions, SlideshowSecondsStayWithinTheToolbarsBoxes) {
  EXPECT_EQ(Parse({"--slideshow", "1", "x"}).options.slideshowSeconds, 1u);
  EXPECT_EQ(Parse({"--slideshow", "59999", "x"}).options.slideshowSeconds, 59999u);  // 999 min 59 s
  for (const char* bad : {"0", "60000", "-3", "2.5", "5s", "", " 5", "99999999999999999999"}) {
    SCOPED_TRACE(bad);
    const ParseResult r = Parse({"--slideshow", bad, "x"});
    EXPECT_NE(r.error.find("--slideshow needs whole seconds"), std::string::npos) << r.error;
  }
}

TEST(ViewOptions, MistakesAreNamed) {
  EXPECT_EQ(Parse({}).error, "no folder or picture given");
  EXPECT_EQ(Parse({"--blank-screen"}).error, "no folder or picture given");
  EXPECT_EQ(Parse({"x", "--screenshot"}).error, "--screenshot needs a value");
  EXPECT_EQ(Parse({"x", "--screenshot="}).error, "--screenshot needs a file name");
  EXPECT_EQ(Parse({"x", "--new-window=yes"}).error, "--new-window takes no value");
  EXPECT_EQ(Parse({"x", "--fullscreen"}).error, "unknown option --fullscreen");
  EXPECT_EQ(Parse({"x", "-n"}).error, "unknown option -n");
  EXPECT_NE(Parse({"x", "--screenshot-delay", "61000"}).error, "");
  // Help needs no path.
  const ParseResult help = Parse({"-h"});
  EXPECT_EQ(help.error, "");
  EXPECT_TRUE(help.options.help);
}

TEST(ViewNaturalOrder, NumbersCompareByValueAndCaseIsIgnored) {
  QStringList names{"photo10.jpg", "photo9.jpg", "Photo2.jpg", "photo1.jpg", "album.jpg", "photo02.jpg", "Zebra.jpg"};
  SortNatural(names);
  ASSERT_EQ(names.size(), 7);
  EXPECT_EQ(names.first(), "album.jpg");
  EXPECT_LT(names.indexOf("photo1.jpg"), names.indexOf("Photo2.jpg"));
  EXPECT_LT(names.indexOf("Photo2.jpg"), names.indexOf("photo9.jpg"));
  EXPECT_LT(names.indexOf("photo9.jpg"), names.indexOf("photo10.jpg"));
  EXPECT_EQ(names.last(), "Zebra.jpg");
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
  QStringList names(const PhotoList& list) {
    QStringList out;
    for (const QString& f : list.files()) out << QFileInfo(f).fileName();
    return out;
  }
  QTemporaryDir dir_;
  const QSet<QString> suffixes_{"jpg", "jpeg", "png"};
};

TEST_F(ViewPhotoList, FolderGivesItsPicturesInNaturalOrder) {
  for (const char* name : {"img12.jpg", "img2.PNG", "img1.jpeg", "notes.txt", "img3", ".hidden5.jpg"}) touch(name);
  touch("sub/img0.jpg");  // subfolders are not searched
  PhotoList list;
  EXPECT_FALSE(list.addPath(dir_.path(), suffixes_).has_value());
  QStringList found = names(list);
  EXPECT_TRUE(found.removeOne(".hidden5.jpg"));
  EXPECT_EQ(found, (QStringList{"img1.jpeg", "img2.PNG", "img12.jpg"}));
  EXPECT_TRUE(QFileInfo(list.files().first()).isAbsolute());
}

TEST_F(ViewPhotoList, FilesAndFoldersKeepTheCommandLinesOrder) {
  const QString single = touch("z-single.txt");  // a named file is taken as it is
  touch("album/b.jpg");
  touch("album/a.jpg");
  PhotoList list;
  EXPECT_FALSE(list.addPaths({single, dir_.filePath("album")}, suffixes_).has_value());
  EXPECT_EQ(names(list), (QStringList{"z-single.txt", "a.jpg", "b.jpg"}));
}

TEST_F(ViewPhotoList, MissingPathsAreReportedAndTheRestKept) {
  touch("a.jpg");
  PhotoList list;
  const auto error = list.addPaths({dir_.filePath("gone"), dir_.path()}, suffixes_);
  ASSERT_TRUE(error.has_value());
  EXPECT_TRUE(error->contains("no such file or folder")) << error->toStdString();
  EXPECT_EQ(names(list), QStringList{"a.jpg"});
  PhotoList none;
  EXPECT_TRUE(none.addPath(dir_.filePath("nothing-here"), suffixes_).has_value());
  EXPECT_TRUE(none.empty());
}

TEST_F(ViewPhotoList, NamesThatAreNotUtf8StayAsTheFileSystemHoldsThem) {
  const QByteArray folder = QFile::encodeName(dir_.path());
  const QByteArray name = folder + "/caf\xE9 \xFF.jpg";
  ::close(::open(name.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
  PhotoList list;
  EXPECT_FALSE(list.addPath(folder, suffixes_).has_value());  // listed from the folder
  EXPECT_FALSE(list.addPaths(QList<QByteArray>{name}, suffixes_).has_value());  // named itself
  EXPECT_EQ(list.paths(), (QList<QByteArray>{name, name}));
}

TEST_F(ViewPhotoList, MovesAnswerThumbNavAndFlagBothEnds) {
  for (const char* name : {"1.jpg", "2.jpg", "3.jpg"}) touch(name);
  PhotoList list;
  list.addPath(dir_.path(), suffixes_);
  ASSERT_EQ(list.size(), 3);
  bool end = false;
  EXPECT_EQ(list.move(3, end), 1);  // next
  EXPECT_FALSE(end);
  EXPECT_EQ(list.move(3, end), 2);  // next reaches the last
  EXPECT_TRUE(end);
  EXPECT_EQ(list.move(3, end), std::nullopt);  // nothing after the last
  EXPECT_TRUE(end);
  EXPECT_EQ(list.current(), 2);
  EXPECT_EQ(list.move(2, end), 1);  // previous
  EXPECT_FALSE(end);
  EXPECT_EQ(list.move(1, end), 0);  // first
  EXPECT_TRUE(end);
  EXPECT_EQ(list.move(2, end), std::nullopt);  // nothing before the first
  EXPECT_TRUE(end);
  EXPECT_EQ(list.move(4, end), 2);  // last
  EXPECT_TRUE(end);
  end = false;
  EXPECT_EQ(list.move(0, end), std::nullopt);  // not a direction
  EXPECT_EQ(list.move(5, end), std::nullopt);
  EXPECT_EQ(list.current(), 2);
}

TEST_F(ViewPhotoList, OnePictureIsBothEnds) {
  touch("only.jpg");
  PhotoList list;
  list.addPath(dir_.path(), suffixes_);
  for (uint8_t direction : {1, 2, 3, 4}) {
    bool end = false;
    list.move(direction, end);
    EXPECT_TRUE(end) << int(direction);
    EXPECT_EQ(list.current(), 0);
  }
  PhotoList none;
  bool end = false;
  EXPECT_EQ(none.move(3, end), std::nullopt);
  EXPECT_TRUE(end);
}

TEST(ViewPictureFormats, JpegAndPngAreReadable) {
  const QSet<QString> suffixes = PictureSuffixes();
  for (const char* s : {"jpg", "jpeg", "png", "bmp", "gif"}) EXPECT_TRUE(suffixes.contains(s)) << s;
  EXPECT_FALSE(suffixes.contains("txt"));
}

// The host on the component itself (headless): start-up options and the
// answers to the toolbar's navigation.
class ViewHostOnComponent : public fixture::ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    // Named so that plain character order would differ: p1, p2, p10.
    picture("p10.png", 30, 20, Qt::red);
    picture("p2.png", 40, 30, Qt::green);
    picture("p1.png", 50, 40, Qt::blue);
    ASSERT_FALSE(list.addPath(QString::fromStdString(dir.string()), PictureSuffixes()).has_value());
    ASSERT_EQ(list.size(), 3);
  }
  // The file the current photo window shows, as its image-list entry names it.
  std::string shown() {
    const kit::ComboBox& names = bar().cboImageName;
    return names.listIndex() < 0 ? std::string() : names.itemText(names.listIndex());
  }

  PhotoList list;
};

TEST_F(ViewHostOnComponent, StartShowsTheFirstPictureUnderTheViewersName) {
  ViewerHost viewer(app, list);
  viewer.start(Options{});
  EXPECT_EQ(state().sHostAppName, "korvena-view");
  EXPECT_EQ(state().sViewStyle, "pbMDILoading");
  EXPECT_EQ(state().CurrentIndex, 1);
  EXPECT_EQ(shown(), "p1.png");
  EXPECT_TRUE(toolbar().visible());
  EXPECT_FALSE(app.newWindowMode());
  EXPECT_EQ(bar().chkBlankBack.value(), 0);
  EXPECT_EQ(bar().Toolbar.button("Details").image, "MoreDetails");
  EXPECT_EQ(toolbar().tag(), "");
}

TEST_F(ViewHostOnComponent, ToolbarButtonsWalkTheListAndReportItsEnds) {
  ViewerHost viewer(app, list);
  viewer.start(Options{});
  clickButton("MoveNext");
  EXPECT_EQ(shown(), "p2.png");
  clickButton("MoveLast");
  EXPECT_EQ(shown(), "p10.png");
  clickButton("MoveNext");  // nothing after the last: it stays
  EXPECT_EQ(shown(), "p10.png");
  clickButton("MovePrevious");
  EXPECT_EQ(shown(), "p2.png");
  clickButton("MoveFirst");
  EXPECT_EQ(shown(), "p1.png");
  EXPECT_EQ(bar().cboImageName.listCount(), 1) << "same-window mode keeps one window";
  // The end flag as the slideshow reads it.
  EXPECT_FALSE(app.FireEventThumbNav(MoveNext));
  EXPECT_TRUE(app.FireEventThumbNav(MoveNext));
  EXPECT_EQ(shown(), "p10.png");
  EXPECT_TRUE(app.FireEventThumbNav(MoveNext));
  EXPECT_TRUE(app.FireEventThumbNav(MoveFirst));
  EXPECT_EQ(shown(), "p1.png");
}

TEST_F(ViewHostOnComponent, NewWindowOptionGivesEachPictureAWindow) {
  ViewerHost viewer(app, list);
  Options options;
  options.newWindow = true;
  viewer.start(options);
  EXPECT_TRUE(app.newWindowMode());
  EXPECT_EQ(bar().Toolbar.button("NewWindow").tag, "NewWindow");
  clickButton("MoveNext");
  clickButton("MoveNext");
  EXPECT_EQ(bar().cboImageName.listCount(), 3);
  EXPECT_EQ(state().CurrentIndex, 3);
  EXPECT_EQ(shown(), "p10.png");
}

TEST_F(ViewHostOnComponent, BlankScreenAndDetailsOptionsSetTheToolbar) {
  ViewerHost viewer(app, list);
  Options options;
  options.blankScreen = true;
  options.details = true;
  viewer.start(options);
  EXPECT_EQ(bar().chkBlankBack.value(), 1);
  EXPECT_TRUE(korvena::BackGround().visible());
  EXPECT_EQ(bar().Toolbar.button("Details").image, "LessDetails");
  EXPECT_EQ(shown(), "p1.png");
}

TEST_F(ViewHostOnComponent, SlideshowOptionRunsTheShowFromTheFirstPicture) {
  ViewerHost viewer(app, list);
  Options options;
  options.slideshowSeconds = 2;
  viewer.start(options);
  EXPECT_EQ(toolbar().tag(), "Autoslide");
  EXPECT_FALSE(toolbar().visible());
  EXPECT_EQ(bar().txtMinute.text(), "0");
  EXPECT_EQ(bar().txtSecond.text(), "2");
  EXPECT_EQ(shown(), "p1.png");
  advance(2000);
  EXPECT_EQ(shown(), "p2.png");
  advance(2000);
  EXPECT_EQ(shown(), "p10.png");  // the end: the next tick wraps (Auto-Repeat is on)
  advance(2000);
  EXPECT_EQ(shown(), "p1.png");
}

TEST_F(ViewHostOnComponent, LongSlideshowIntervalsUseTheMinuteBox) {
  ViewerHost viewer(app, list);
  Options options;
  options.slideshowSeconds = 90;
  viewer.start(options);
  EXPECT_EQ(bar().txtMinute.text(), "1");
  EXPECT_EQ(bar().txtSecond.text(), "30");
  advance(60000);
  EXPECT_EQ(shown(), "p1.png");
  advance(30000);
  EXPECT_EQ(shown(), "p2.png");
}

}  // namespace
}  // namespace korvena::host
