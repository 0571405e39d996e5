// The toolbar's commands: navigation through the host, the window mode, the
// image list, the details panel, zoom, placement, the slideshow, the screen
// modes and the arrangement of all photo windows.
#include "component_fixture.h"

using fixture::ComponentTest;

class Navigation : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    for (auto name : {"a.png", "b.png", "c.png"}) host.files.push_back(picture(name, 40, 30));
  }
};

TEST_F(Navigation, ButtonsAskTheHostAndTheFocusComesBack) {
  start();
  clickButton("MoveNext");  // no current image: the host opens its first
  ASSERT_EQ(host.current, 0);
  EXPECT_TRUE(toolbar().visible());
  clickButton("MoveNext");
  clickButton("MoveLast");
  clickButton("MovePrevious");
  clickButton("MoveFirst");
  EXPECT_EQ(host.requests, (std::vector<int>{3, 3, 4, 2, 1}));
  EXPECT_EQ(host.current, 0);
  EXPECT_TRUE(toolbar().active());
  EXPECT_EQ(bar().cboImageName.listCount(), 1);  // same window throughout
  EXPECT_EQ(photo(1).caption(), "a.png  100%");
  // The window-mode button flips the mode and shows the one it gives.
  for (const char* mode : {"NewWindow", "SameWindow"}) {
    clickButton("NewWindow");
    EXPECT_EQ(bar().Toolbar.button("NewWindow").image, mode);
    EXPECT_EQ(app.newWindowMode(), std::string(mode) == "NewWindow");
  }
}

TEST_F(Navigation, ImageListBringsItsWindowForwardAndIgnoresCodeChanges) {
  start(true);
  host.open(0);
  host.open(1);
  host.open(2);
  EXPECT_EQ(state().CurrentIndex, 3);
  bar().cboImageName.userPick(0);
  EXPECT_EQ(state().CurrentIndex, 1);
  EXPECT_TRUE(toolbar().active());
  const auto& z = kit::platform().zOrder();
  EXPECT_EQ(std::vector<kit::Form*>(z.begin(), z.begin() + 2), (std::vector<kit::Form*>{&toolbar(), &photo(1)}));
  state().bFillingList = true;
  bar().cboImageName.userPick(2);
  EXPECT_EQ(state().CurrentIndex, 1);
}

TEST_F(Navigation, FocusNeverRestsOnAControlClippedByTheCollapsedToolbar) {
  start();
  app.OpenImage(picture("a.png", 40, 30), "a");
  clickButton("Details");
  bar().udnMinute.userStep(true);
  EXPECT_TRUE(bar().txtMinute.hasFocus());
  clickButton("Details");
  EXPECT_FALSE(bar().txtMinute.hasFocus());
  bar().cboZoomRate.setFocus();
  EXPECT_FALSE(bar().cboZoomRate.hasFocus());
  EXPECT_TRUE(toolbar().active());
  // A driver still works a clipped control.
  bar().udnMinute.userStep(true);
  EXPECT_EQ(bar().txtMinute.text(), "2");
  EXPECT_FALSE(bar().txtMinute.hasFocus());
}

TEST_F(Navigation, DetailsButtonTogglesThePanelAndKeepsItsPage) {
  start();
  EXPECT_EQ(bar().Toolbar.button("Details").image, "MoreDetails");
  const QSizeF collapsed(toolbar().width(), toolbar().height());
  clickButton("Details");
  EXPECT_EQ(bar().Toolbar.button("Details").image, "LessDetails");
  // The width is the image list's right edge and a margin.
  EXPECT_EQ(QSizeF(toolbar().width(), toolbar().height()), QSizeF(7379, 2863.5));
  bar().TabStrip.userSelect(3);
  EXPECT_TRUE(bar().fraTabStrip[3]->visible());
  EXPECT_FALSE(bar().fraTabStrip[1]->visible());
  clickButton("Details");
  EXPECT_EQ(QSizeF(toolbar().width(), toolbar().height()), collapsed);
  clickButton("Details");
  EXPECT_TRUE(bar().fraTabStrip[3]->visible());  // the page survives
  bar().TabStrip.userSelect(3);
  EXPECT_TRUE(bar().fraTabStrip[3]->visible());
}

using Zoom = ComponentTest;

TEST_F(Zoom, PickedAndTypedRatesResizeOnlyTheCurrentWindow) {
  start(true);
  auto& zoom = bar().cboZoomRate;
  zoom.userPick(3);  // with no window only the box changes
  EXPECT_EQ(zoom.text(), "50%");
  EXPECT_EQ(korvena::photoWindowsUpperBound(), 0);
  const auto a = picture("a.png", 40, 30);
  app.OpenImage(a, "one");
  EXPECT_FLOAT_EQ(photo(1).c().picPhoto.width(), 300);
  app.OpenImage(a, "two");
  zoom.userPick(8);
  EXPECT_FLOAT_EQ(photo(2).c().picPhoto.width(), 1200);
  EXPECT_FLOAT_EQ(photo(1).c().picPhoto.width(), 300);
  EXPECT_TRUE(toolbar().active());
  zoom.setSelStart(0);
  zoom.setSelLength(static_cast<int>(zoom.text().size()));
  for (char ch : std::string("3a-.%00\r")) zoom.userKeyPress(ch);
  EXPECT_EQ(zoom.text(), "300%");
  EXPECT_EQ(std::pair(zoom.selStart(), zoom.selLength()), std::pair(0, 4));
  EXPECT_FLOAT_EQ(photo(2).c().picPhoto.width(), 1800);
  EXPECT_EQ(photo(2).caption(), "two  300%");
  // Too long a rate is the highest.
  zoom.userSetText("");
  for (char ch : std::string("999999\r")) zoom.userKeyPress(ch);
  EXPECT_EQ(zoom.text(), "32767%");
  EXPECT_FLOAT_EQ(photo(2).ZoomPercent, 32767);
  EXPECT_EQ(messageBoxes().size(), 0u);
  zoom.userSetText("0");
  zoom.userKeyPress(13);
  EXPECT_EQ(std::pair(zoom.text(), zoom.listIndex()), std::pair(std::string("Fit to Window"), 0));
}

using Placement = ComponentTest;

TEST_F(Placement, PositionButtonsMoveTheCurrentWindow) {
  start();
  bar().optImgPos[33]->userClick();  // no window yet: only the code is kept
  EXPECT_EQ(state().sImagePosition, "33");
  app.OpenImage(picture("a.png", 4001 / 15 + 1, 3001 / 15 + 1), "a");
  auto& w = photo(1);
  EXPECT_EQ(QPointF(w.left(), w.top()), QPointF(15360 - w.width(), 11520 - w.height()));
  for (const auto& [size, code, place] : {std::tuple{QSizeF(4000, 3000), 11, QPointF(0, 0)},
                                          {QSizeF(4000, 3000), 33, QPointF(11360, 8520)},
                                          {QSizeF(4001, 3001), 22, QPointF(5680, 4260)}}) {
    w.move(0, 0, static_cast<float>(size.width()), static_cast<float>(size.height()));
    bar().optImgPos[code]->userClick();
    EXPECT_EQ(QPointF(w.left(), w.top()), place) << code;
  }
}

class Slideshow : public Navigation {
 protected:
  void SetUp() override {
    Navigation::SetUp();
    start();
  }
  void setInterval(const std::string& minutes, const std::string& seconds) {
    bar().txtMinute.userSetText(minutes);
    bar().txtSecond.userSetText(seconds);
  }
  void startShow() { bar().mnuPopOptionStartSlideshow.userClick(); }
  bool running() { return toolbar().tag() == "Autoslide"; }
  // Whether a show runs, whether the toolbar shows, and the cursor's counter.
  std::tuple<bool, bool, int> show() { return {running(), toolbar().visible(), kit::platform().cursorCounter()}; }
};

TEST_F(Slideshow, NumberBoxesHoldPlainNumbersAndIntervalsTheTimerCannotRunAreRefusedBeforeAnythingChanges) {
  const std::string bad = "Minutes must be 0 or more, and seconds 0 or from 0.001 to 65.535";
  for (auto [m, s, text] : {std::tuple{"0", "0", std::string("You must set slidshow time interval")},
                            {"-1", "5", bad},
                            {"0", "-2", bad},
                            {"0", "70", bad},
                            {"0", "0.0001", bad}}) {
    setInterval(m, s);
    startShow();
    auto boxes = messageBoxes();
    ASSERT_EQ(boxes.size(), 1u) << m << " " << s;
    EXPECT_EQ(boxes[0].text, text);
    if (text != bad) {
      EXPECT_EQ(boxes[0].title, "Slidwshow");
      EXPECT_EQ(boxes[0].flags, 64);
    }
    EXPECT_FALSE(running());
    EXPECT_EQ(kit::platform().cursorCounter(), 0);
  }
  EXPECT_TRUE(host.requests.empty());
  for (const auto& [box, typed, kept] : {std::tuple{&bar().txtMinute, "07", "7"},
                                         {&bar().txtMinute, "12abc", "12"},
                                         {&bar().txtMinute, "abc", "0"},
                                         {&bar().txtSecond, "2.5", "2.5"}}) {
    box->userSetText(typed);
    EXPECT_EQ(box->text(), kept) << typed;
  }
  bar().txtSecond.userSetText("58");
  bar().udnSecond.userStep(true);
  bar().udnSecond.userStep(true);
  EXPECT_EQ(bar().txtSecond.text(), "59");
}

TEST_F(Slideshow, StartsInOneCollapsedWindowRepeatsThroughTheHostsListAndStopsOnEsc) {
  clickButton("NewWindow");
  clickButton("Details");
  setInterval("0", "5");
  startShow();
  EXPECT_FALSE(app.newWindowMode());
  EXPECT_EQ(bar().Toolbar.button("Details").image, "MoreDetails");
  EXPECT_EQ(show(), std::tuple(true, false, -1));
  EXPECT_EQ(host.requests, (std::vector<int>{1}));  // no current image: first
  advance(4999);
  EXPECT_EQ(host.requests.size(), 1u);
  advance(1 + 5000 * 3);
  EXPECT_EQ(host.requests, (std::vector<int>{1, 3, 3, 1, 3}));
  EXPECT_EQ(host.current, 1);
  EXPECT_TRUE(bar().Toolbar.button("MoveNext").enabled);
  // Esc in a photo window stops the show and brings everything back.
  photo(1).userKeyPress(27);
  EXPECT_EQ(show(), std::tuple(false, true, 0));
  EXPECT_FALSE(bar().tmrSlideShow.timerEnabled());
  // Esc on the toolbar only stops the timer.
  startShow();
  toolbar().userKeyDown(27);
  EXPECT_TRUE(running());
  EXPECT_FALSE(bar().tmrSlideShow.timerEnabled());
}

// The period made of minutes and seconds (1:30) is checked through the viewer's --slideshow option.
TEST_F(Slideshow, AStopLeavesNoCountdownAndWithoutRepeatTheTickAfterTheEndStops) {
  host.open(0);
  // Stopped a minute into a three-minute period: the next show counts afresh.
  setInterval("3", "0");
  startShow();
  advance(60000);
  photo(1).userKeyPress(27);
  host.requests.clear();
  bar().chkRepeate.userClick();
  setInterval("0", "5");
  startShow();
  advance(5000);
  EXPECT_EQ(host.requests, (std::vector<int>{3}));
  advance(5000);
  EXPECT_EQ(host.current, 2);
  EXPECT_FALSE(bar().Toolbar.button("MoveNext").enabled);
  advance(5000);
  EXPECT_EQ(show(), std::tuple(false, true, 0));
  EXPECT_TRUE(bar().Toolbar.button("MoveNext").enabled);
  advance(60000);
  EXPECT_EQ(host.requests, (std::vector<int>{3, 3}));
}

TEST_F(Slideshow, OpeningAnimationGrowsTheWindowBackToItsFullSizeAndEscDuringItStopsTheShowForGood) {
  bar().chkOpenDownway.userClick();
  setInterval("0", "5");
  host.open(0);
  startShow();
  advance(5000);  // opens image 2: the window starts at height 0
  auto& w = photo(1);
  EXPECT_FLOAT_EQ(w.height(), 0);
  EXPECT_FALSE(bar().tmrSlideShow.timerEnabled());
  EXPECT_EQ(w.ResizeGuard, 1);
  advance(9 * 30);                   // nine steps of 100 twips
  EXPECT_FLOAT_EQ(w.height(), 900);  // the last step overshoots
  EXPECT_FALSE(bar().tmrSlideShow.timerEnabled());
  advance(30);  // cut back to the full size, and the show goes on
  EXPECT_EQ(w.ResizeGuard, 0);
  EXPECT_FLOAT_EQ(w.height(), 855);  // 450 of picture and the frame
  EXPECT_TRUE(bar().tmrSlideShow.timerEnabled());
  EXPECT_FALSE(w.c().tmrOpen.timerEnabled());
  // Esc while a window grows (sideways now) stops the show for good.
  bar().chkOpenDownway.userClick();
  bar().chkOpenSideway.userClick();
  host.requests.clear();
  advance(5000 + 30);  // image 3 opens and starts to grow
  ASSERT_TRUE(photo(1).c().tmrOpen.timerEnabled());
  photo(1).userKeyPress(27);
  advance(60000);
  EXPECT_FALSE(running());
  EXPECT_FALSE(bar().tmrSlideShow.timerEnabled());
  EXPECT_FALSE(photo(1).c().tmrOpen.timerEnabled());  // the window still grew to its full size
  EXPECT_EQ(host.requests, (std::vector<int>{3}));
}

using ScreenModes = ComponentTest;

TEST_F(ScreenModes, NoBorderTogglesTheCurrentWindowsFrameAndTheNextWindowsFollow) {
  start(true);
  const auto a = picture("a.png", 40, 30);
  app.OpenImage(a, "a");
  auto& w = photo(1);
  const std::string caption = w.caption();
  bar().chkNoBorder.userClick();
  EXPECT_FALSE(w.framed());
  EXPECT_EQ(QSizeF(w.width(), w.height()), QSizeF(600, 450));
  EXPECT_EQ(w.caption(), caption);
  EXPECT_TRUE(toolbar().active());
  app.OpenImage(a, "b");
  EXPECT_FALSE(photo(2).framed());
  bar().chkNoBorder.userClick();
  EXPECT_TRUE(photo(2).framed());
  EXPECT_EQ(QSizeF(photo(2).width(), photo(2).height()), QSizeF(690, 855));
  app.OpenImage(a, "c");
  EXPECT_TRUE(photo(3).framed());
}

// Black over the whole screen and behind the photos whatever activates it: the end-to-end tests.
TEST_F(ScreenModes, BlankScreenShowsTheBackgroundBeforeTheHostIsAskedAndHidesIt) {
  start(true);
  // Set by code while hidden, it shows before the host is asked for a picture.
  bool backgroundShown = false;
  app.setThumbNavHandler([&](uint8_t, bool&) { backgroundShown = korvena::BackGround().visible(); });
  bar().chkBlankBack.setValue(1);
  korvena::BackGround().hide();
  clickButton("MoveFirst");
  EXPECT_TRUE(backgroundShown);
  bar().chkBlankBack.userClick();
  EXPECT_FALSE(korvena::BackGround().visible());
  EXPECT_TRUE(korvena::BackGround().loaded());
}

class Arrangement : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    start(true);
    const auto a = picture("a.png", 40, 30);
    for (int i = 0; i < 3; ++i) app.OpenImage(a, "img");
  }
  std::vector<kit::Form*> photoOrder() {
    std::vector<kit::Form*> order;
    for (kit::Form* f : kit::platform().zOrder())
      if (f->name() == "frmPhoto") order.push_back(f);
    return order;
  }
};

TEST_F(Arrangement, FrontBackAndMinimiseAll) {
  photo(2).setWindowState(1);
  bar().cmdBringToFront.userClick();  // restores and stacks in slot order
  EXPECT_EQ(photo(2).windowState(), 0);
  EXPECT_EQ(photoOrder(), (std::vector<kit::Form*>{&photo(3), &photo(2), &photo(1)}));
  bar().chkBlankBack.userClick();
  bar().cmdSendBack.userClick();  // behind everything, the background too
  const auto& z = kit::platform().zOrder();
  EXPECT_EQ(std::vector<kit::Form*>(z.end() - 3, z.end()), (std::vector<kit::Form*>{&photo(1), &photo(2), &photo(3)}));
  photo(1).setWindowState(2);
  bar().cmdMinimise.userClick();  // maximised ones too
  for (int slot = 1; slot <= 3; ++slot) EXPECT_EQ(photo(slot).windowState(), 1);
}

TEST_F(Arrangement, CloseAllEndsASlideshowAndFreesSlotsInOrder) {
  bar().txtSecond.userSetText("5");
  bar().mnuPopOptionStartSlideshow.userClick();
  ASSERT_EQ(toolbar().tag(), "Autoslide");
  photo(2).userClose();
  bar().cmdCloseAll.userClick();  // skips the closed slot 2
  EXPECT_EQ(toolbar().tag(), "");
  EXPECT_TRUE(toolbar().visible());
  EXPECT_EQ(kit::platform().cursorCounter(), 0);
  EXPECT_EQ(bar().cboImageName.listCount(), 0);
  EXPECT_EQ(state().CurrentIndex, 0);
  // Slots freed in the order closed; the next windows take them last closed first (the slot tests).
  EXPECT_EQ(state().FreeSlots, (std::vector<int16_t>{0, 3, 2, 1, 3}));
}
