// Opening images into photo windows: slots, the image list, sizing by the
// fit rule and the zoom rate, scroll bars, activation, the toolbar's set-up.
#include "component_fixture.h"
#include "store/registry_store.h"

using fixture::ComponentTest;
using korvena::photoWindow;

namespace {
std::vector<int16_t> freeSlots() { return korvena::view().FreeSlots; }
}  // namespace

using Slots = ComponentTest;

TEST_F(Slots, ClosedSlotsAreReusedLastClosedFirstAndTheToolbarsCloseBoxFreesThemAll) {
  start(true);
  const auto a = picture("a.png", 40, 30);
  for (int i = 0; i < 3; ++i) app.OpenImage(a, "img" + std::to_string(i + 1));
  for (int slot = 1; slot <= 3; ++slot) {
    EXPECT_EQ(photo(slot).tag(), std::to_string(slot));
    EXPECT_EQ(bar().cboImageName.itemData(slot - 1), slot);
  }
  photo(2).userClose();
  photo(3).userClose();
  EXPECT_EQ(freeSlots(), (std::vector<int16_t>{0, 3, 2, 3}));
  EXPECT_EQ(state().CurrentIndex, 1);  // the first listed window becomes current
  for (const int slot : {3, 2, 4}) {
    app.OpenImage(a, "again");
    EXPECT_EQ(bar().cboImageName.itemData(bar().cboImageName.listIndex()), slot);
  }
  EXPECT_EQ(korvena::photoWindowsUpperBound(), 4);
  // The toolbar's close box closes everything, the background too; the next picture takes slot 1.
  bar().chkBlankBack.userClick();
  ASSERT_TRUE(korvena::BackGround().visible());
  toolbar().userClose();
  EXPECT_EQ(std::pair(toolbar().loaded(), toolbar().visible()), std::pair(true, false));  // loaded, hidden
  EXPECT_EQ(bar().cboImageName.listCount(), 0);
  EXPECT_FALSE(korvena::BackGround().loaded());
  EXPECT_EQ(freeSlots(), (std::vector<int16_t>{0}));
  app.OpenImage(a, "again");
  EXPECT_EQ(photo(1).tag(), "1");
  EXPECT_EQ(korvena::photoWindowsUpperBound(), 1);
}

TEST_F(Slots, SameWindowReplacesTheCurrentImageAndAfterTheLastCloseTakesTheFreedSlot) {
  start();
  const auto a = picture("a.png", 40, 30);
  app.OpenImage(a, "first");
  app.OpenImage(picture("b.png", 80, 20), "second");
  ASSERT_EQ(bar().cboImageName.listCount(), 1);
  EXPECT_EQ(bar().cboImageName.itemText(0), "second");
  EXPECT_EQ(photo(1).PictureWidth, 80 * 15);
  photo(1).c().mnuPopClose.userClick();
  EXPECT_EQ(state().CurrentIndex, 0);
  EXPECT_EQ(bar().cboImageName.listCount(), 0);
  app.OpenImage(a, "two");
  EXPECT_EQ(freeSlots(), (std::vector<int16_t>{0, 1}));  // not handed out twice
  ASSERT_EQ(bar().cboImageName.listCount(), 1);
  EXPECT_EQ(bar().cboImageName.itemData(0), 1);
  EXPECT_TRUE(photo(1).visible());
  EXPECT_EQ(state().CurrentIndex, 1);
  EXPECT_EQ(korvena::photoWindowsUpperBound(), 1);
}

using Sizing = ComponentTest;

TEST_F(Sizing, FitShrinksALargePictureAndTallPicturesGetABarAllowance) {
  start();
  bar().cboZoomRate.userPick(0);
  state().sImagePosition = "22";
  app.OpenImage(picture("big.png", 1600, 1336), "Sunset.jpg");  // 24000 x 20040 twips
  korvena::frmPhoto& w = photo(1);
  EXPECT_FLOAT_EQ(w.ZoomPercent, 50);
  EXPECT_EQ(QSizeF(w.c().picPhoto.width(), w.c().picPhoto.height()), QSizeF(12000, 10020));
  EXPECT_EQ(QRectF(w.left(), w.top(), w.width(), w.height()), QRectF(1635, 548, 12090, 10425));
  EXPECT_EQ(w.caption(), "Sunset.jpg  50%");
  EXPECT_FALSE(w.c().VScroll.visible());
  EXPECT_EQ(w.ResizeGuard, 0);
  EXPECT_EQ(kit::platform().mousePointer(), 0);
  // A tall picture keeps room below it; the rate is written with seven digits.
  app.OpenImage(picture("tall.png", 100, 700), "tall");
  EXPECT_FLOAT_EQ(photo(1).c().picPhoto.height(), 10020);
  EXPECT_EQ(photo(1).caption(), "tall  95.42857%");
  // A small picture after a large rate shows at its natural size.
  bar().cboZoomRate.userPick(9);
  app.OpenImage(picture("small.png", 100, 80), "small");
  EXPECT_FLOAT_EQ(photo(1).c().picPhoto.width(), 100 * 15 * 4);
  bar().cboZoomRate.userPick(0);
  EXPECT_FLOAT_EQ(photo(1).c().picPhoto.width(), 1500);
  EXPECT_EQ(photo(1).caption(), "small  100%");
  // Too tall at 800 %: as tall as the screen, one bar wider.
  app.OpenImage(picture("tall.png", 20, 100), "tall");
  bar().cboZoomRate.userPick(10);
  EXPECT_EQ(QSizeF(w.width(), w.height()), QSizeF(2730, 11520));
  EXPECT_EQ(std::pair(w.c().HScroll.visible(), w.c().VScroll.visible()), std::pair(false, true));
  bar().cboZoomRate.setText("-5");  // a negative or zero rate fits
  w.ResizeImage();
  EXPECT_FLOAT_EQ(w.ZoomPercent, 100);
}

// Fitted pictures whose single-precision sizes land a hair past their view,
// and one as wide as the screen allows.
struct FitCase {
  int screenWidth, screenHeight, pixelsWide, pixelsHigh;
};
class FittedPicture : public ComponentTest, public ::testing::WithParamInterface<FitCase> {};

TEST_P(FittedPicture, NeverGetsAScrollBarOrAnError) {
  const FitCase f = GetParam();
  kit::platform().setScreenSize(static_cast<float>(f.screenWidth), static_cast<float>(f.screenHeight));
  start();
  bar().cboZoomRate.userPick(0);
  kit::platform().takeEvents();
  app.OpenImage(picture("p.png", f.pixelsWide, f.pixelsHigh), "p.png");
  korvena::frmPhoto& w = photo(1);
  EXPECT_TRUE(messageBoxes().empty());
  EXPECT_EQ(std::pair(w.c().HScroll.visible(), w.c().VScroll.visible()), std::pair(false, false));
  EXPECT_LE(w.width(), f.screenWidth);
  EXPECT_EQ(w.ResizeGuard, 0);
  EXPECT_EQ(w.caption().rfind("p.png  ", 0), 0u) << w.caption();
}

INSTANTIATE_TEST_SUITE_P(Sizing, FittedPicture,
                         ::testing::Values(FitCase{15360, 11520, 100, 16000}, FitCase{15360, 11520, 1170, 12000},
                                           FitCase{2400, 3600, 600, 100}));

TEST_F(Sizing, ActivationMakesTheWindowCurrentAndItsCaptionNamesItsOwnPicture) {
  start(true);
  for (auto name : {"first.png", "second.png", "third.png"}) app.OpenImage(picture(name, 40, 30), name);
  photo(1).userActivate();  // the toolbar coming back with it: the screen tests
  EXPECT_EQ(state().CurrentIndex, 1);
  EXPECT_TRUE(photo(1).active());  // the toolbar does not take activation
  bar().cboZoomRate.userPick(8);   // 200 %
  EXPECT_EQ(photo(1).caption(), "first.png  200%");
  bar().chkNoBorder.userClick();
  photo(2).userActivate();
  bar().chkNoBorder.userClick();  // borders back on the current window
  EXPECT_EQ(photo(2).caption(), "second.png  200%");
  photo(3).userClose();  // the first listed window becomes current
  bar().cboZoomRate.userPick(7);
  EXPECT_EQ(photo(1).caption(), "first.png  150%");
}

class Scrolling : public ComponentTest {
 protected:
  // A shown window with a 9000 x 6000 client area and a picture of the given size.
  korvena::frmPhoto& layout(float pictureWidth, float pictureHeight) {
    if (!kit::isFormLoaded("frmNavToolbar")) start();
    app.OpenImage(picture("p.png", 20, 20), "p");
    korvena::frmPhoto& w = photo(1);
    w.ResizeGuard = 1;
    w.move(0, 0, 9090, 6405);
    w.c().picForm.move(0, 0, 9000, 6000);
    w.c().picPhoto.move(0, 0, pictureWidth, pictureHeight);
    w.ResizeGuard = 0;
    w.ScrollBar();
    return w;
  }
};

TEST_F(Scrolling, BarsAppearForAnOverflowAndNarrowTheView) {
  // A small picture is centred, half to even; a horizontal bar can make the vertical one needed.
  // Picture size; the bars shown (horizontal, vertical), the view's size and the picture's top left.
  using Seen = std::tuple<bool, bool, QSizeF, QPointF>;
  for (const auto& [size, seen] : {std::pair{QSizeF(4000, 3001), Seen{false, false, {9000, 6000}, {2500, 1500}}},
                                   {QSizeF(9500, 5000), Seen{true, false, {9000, 5760}, {0, 380}}},
                                   {QSizeF(9500, 5900), Seen{true, true, {8760, 5760}, {0, 0}}}}) {
    SCOPED_TRACE(size.height());
    const auto& c = layout(static_cast<float>(size.width()), static_cast<float>(size.height())).c();
    EXPECT_EQ(Seen(c.HScroll.visible(), c.VScroll.visible(), QSizeF(c.picForm.width(), c.picForm.height()),
                   QPointF(c.picPhoto.left(), c.picPhoto.top())),
              seen);
    if (size == QSizeF(9500, 5000)) {
      EXPECT_EQ(std::pair(c.HScroll.max(), c.HScroll.smallChange()), std::pair(500, 900));
    }
  }
}

TEST_F(Scrolling, LargeOverflowIsScaledOntoTheBarAndResizeIsIgnoredWhileGuardedOrMinimised) {
  auto& w = layout(57000, 3000);
  EXPECT_FLOAT_EQ(w.HScrollScale, 1.5f);
  EXPECT_EQ(w.c().HScroll.max(), 32000);
  w.c().HScroll.userScroll(32000);
  EXPECT_FLOAT_EQ(w.c().picPhoto.left(), -48000);
  // Growing the window lowers Max below the value: the value follows.
  w.userResize(30090, 6405);
  EXPECT_LE(w.c().HScroll.value(), w.c().HScroll.max());
  EXPECT_FLOAT_EQ(w.c().picPhoto.left() + w.c().picPhoto.width(), w.c().picForm.width());
  EXPECT_GE(w.c().HScroll.smallChange(), 1);
  // A resize is ignored while guarded or minimised.
  layout(9500, 5000);
  w.ResizeGuard = 1;
  w.userResize(3090, 2405);
  EXPECT_FLOAT_EQ(w.c().picForm.width(), 9000);
  w.ResizeGuard = 0;
  w.setWindowState(1);
  EXPECT_FLOAT_EQ(w.c().picForm.width(), 9000);
  w.setWindowState(0);  // restored: laid out for the size the user gave it
  EXPECT_FLOAT_EQ(w.c().picForm.width(), 3000 - 240);
}

using PhotoLifecycle = ComponentTest;

TEST_F(PhotoLifecycle, KeysHelpMenuAndEscape) {
  start();
  app.OpenImage(picture("a.png", 40, 30), "a");
  kit::platform().takeEvents();
  photo(1).userKeyDown(112);
  photo(1).userKeyPress(27);  // no slideshow: nothing happens
  toolbar().userKeyDown(112);
  auto events = kit::platform().takeEvents();
  ASSERT_EQ(events.size(), 2u);
  for (auto& e : events)
    EXPECT_EQ(std::tuple(e.kind, e.context, e.command), std::tuple(kit::PlatformEvent::Kind::Help, 15L, 15));
  // Right-click on the picture pops the menu; outside it does not.
  auto& pic = photo(1).c().picPhoto;
  photo(1).userRightClick(pic.left() + 10, pic.top() + 10);
  photo(1).userRightClick(pic.left() + pic.width() + 10, 0);
  events = kit::platform().takeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].menu, "mnuPop");
}

using ToolbarSetup = ComponentTest;

TEST_F(ToolbarSetup, UnloadSavesPlaceAndRateAndTheNextLoadRestoresThemButNotValuesThatAreNotNumbers) {
  for (const auto& [key, value] : {std::pair{"Left", "left edge"}, {"Top", "-20000"}, {"ZoomRate", "99999"}})
    korvena::WriteSetting("KorvenaTest", "Dialog\\D9", key, value);
  start();
  EXPECT_FALSE(toolbar().visible());  // loaded collapsed, shown with the first picture
  EXPECT_FLOAT_EQ(toolbar().left(), 9000);
  EXPECT_FLOAT_EQ(toolbar().top(), -20000);  // off the screen is applied as stored
  EXPECT_EQ(bar().cboZoomRate.text(), "100%");
  toolbar().userMove(1234, 567);
  bar().cboZoomRate.userSetText("37");
  app.UnloadForm();
  EXPECT_FALSE(toolbar().loaded());
  EXPECT_EQ(korvena::ReadSetting("KorvenaTest", "Dialog\\D9", "ZoomRate", ""), "37");
  app.ShowForm();
  EXPECT_EQ(QPointF(toolbar().left(), toolbar().top()), QPointF(1234, 567));
  EXPECT_EQ(std::pair(bar().cboZoomRate.text(), bar().cboZoomRate.listIndex()), std::pair(std::string("37%"), -1));
  bar().cboZoomRate.userPick(0);
  app.UnloadForm();
  EXPECT_EQ(korvena::ReadSetting("KorvenaTest", "Dialog\\D9", "ZoomRate", ""), "-1");
  app.ShowForm();
  EXPECT_EQ(bar().cboZoomRate.text(), "Fit to Window");
  EXPECT_EQ(bar().cboZoomRate.listIndex(), 0);
  bar().cboZoomRate.userSetText("abc");  // letters only store 0, which comes back as 0%
  app.UnloadForm();
  app.ShowForm();
  EXPECT_EQ(bar().cboZoomRate.text(), "0%");
}
