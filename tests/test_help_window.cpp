// The help window: the product's help file read through chmlib, a request's
// context mapped to its topic, the topic rendered with its style sheet, links
// followed inside the file, and one window for every request.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <filesystem>
#include <fstream>

#include "helpview/chm_file.h"
#include "helpview/help_window.h"

namespace korvena {
namespace {

namespace fs = std::filesystem;

const fs::path kHelpSources = fs::path(KORVENA_TEST_DATA).parent_path().parent_path() / "help";
constexpr const char* kHelpTitle = "Korvena Photo Viewer Help";

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The product's own help, as the build makes it beside the library.
class ProductHelp : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(chm_)) GTEST_SKIP() << "the help file is not built (chmcmd, fp-utils)";
  }
  const std::string chm_ = (fs::path(KORVENA_LIBRARY_FILE).parent_path() / "Lumastra.chm").string();
  QTemporaryDir temporary_;
  const fs::path dir_ = temporary_.path().toStdString();
};

TEST_F(ProductHelp, PagesReadBackAsTheirSources) {
  std::string error;
  auto chm = ChmFile::Open(chm_, error);
  ASSERT_TRUE(chm) << error;
  for (const char* name : {"welcome.htm", "viewer.htm", "keys.htm", "help.css"})
    EXPECT_EQ(chm->read(std::string("/") + name), ReadAll(kHelpSources / name)) << name;
  EXPECT_EQ(chm->read("/VIEWER.HTM"), ReadAll(kHelpSources / "viewer.htm")) << "names match ignoring case";
  EXPECT_EQ(chm->read("/missing.htm"), std::nullopt);
  EXPECT_EQ(chm->title(), kHelpTitle);  // contexts map to topics in the window's requests below
}

class HelpWindowTest : public ProductHelp {
 protected:
  void SetUp() override {
    ProductHelp::SetUp();
    if (QCoreApplication::instance()) return;
    // The application lives to the end of the process, as a host's does.
    static int argc = 1;
    static char name[] = "korvena_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
  }
  static int helpWindows() {
    int count = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) count += dynamic_cast<HelpWindow*>(w) && w->isVisible();
    return count;
  }
  HelpDesk desk_;
};

TEST_F(HelpWindowTest, RequestsShowTheirTopicsOrWhyNotInOneWindow) {
  desk_.show(chm_, 15);
  HelpWindow* window = desk_.window();
  ASSERT_TRUE(window && window->isVisible());
  EXPECT_EQ(window->windowTitle(), QStringLiteral("The photo window and the toolbar - ") + kHelpTitle);
  const QTextDocument& page = *window->browser().document();
  EXPECT_FALSE(page.toPlainText().contains(QStringLiteral("<p>"))) << "the page shows as its source";
  // The heading takes its colour from help.css.
  const QTextBlock h1 = page.findBlockByNumber(1);
  EXPECT_EQ(h1.text(), QStringLiteral("The photo window and the toolbar"));
  EXPECT_EQ(h1.charFormat().foreground().color(), QColor(0x1d, 0x3f, 0x72));
  EXPECT_FALSE(window->windowIcon().isNull());
  // Later requests, after the user closed it, reuse the one window.
  window->hide();
  for (const auto& [context, title] : {std::pair{50L, "Keys and mouse"}, {7L, "Welcome"}, {-1L, "Welcome"}}) {
    desk_.show(chm_, context);
    EXPECT_EQ(desk_.window(), window);
    EXPECT_EQ(helpWindows(), 1);
    EXPECT_TRUE(window->windowTitle().startsWith(QString::fromLatin1(title))) << context;
  }
  // Files that cannot be shown are explained in the same window.
  const fs::path fake = dir_ / "fake.chm";
  std::ofstream(fake) << "<html>not a help file</html>";
  for (const auto& [file, message] : {std::pair{(dir_ / "nothere.chm").string(), "help file not found"},
                                      {fake.string(), "not a compiled help file"},
                                      {dir_.string(), "help file not found"}}) {
    desk_.show(file, 15);
    EXPECT_EQ(desk_.window(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->browser().toPlainText().contains(QString::fromLatin1(message))) << file;
  }
  desk_.show(chm_, 15);  // a topic shown again after the bad requests
  EXPECT_TRUE(window->browser().toPlainText().contains(QStringLiteral("photo window")));
}

TEST_F(HelpWindowTest, ClickedLinksOpenTheirTopicsFromTheFile) {
  desk_.show(chm_, 15);
  HelpBrowser& browser = desk_.window()->browser();
  desk_.window()->resize(900, 700);
  QTextCursor link = browser.document()->find(QStringLiteral("Help contents"));
  ASSERT_FALSE(link.isNull());
  link.setPosition(link.selectionStart() + 2);
  const QPoint at = browser.cursorRect(link).center();
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent click(type, at, browser.viewport()->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(browser.viewport(), &click);
  }
  EXPECT_EQ(browser.source(), QUrl(QStringLiteral("chm:/welcome.htm")));
  EXPECT_TRUE(desk_.window()->windowTitle().startsWith(QStringLiteral("Welcome")));
  browser.backward();
  EXPECT_EQ(browser.source(), QUrl(QStringLiteral("chm:/viewer.htm")));
  // A link in the ms-its: form (file name, "::", then the page) is read from the file shown.
  emit browser.anchorClicked(QUrl(QStringLiteral("ms-its:Lumastra.chm::/keys.htm#top")));
  EXPECT_TRUE(desk_.window()->windowTitle().startsWith(QStringLiteral("Keys and mouse")));
}

}  // namespace
}  // namespace korvena
