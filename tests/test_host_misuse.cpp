// Hosts that call the component out of order or misbehave in their handlers.
// Errors reach the host as runtime errors, and after every step the windows,
// the image list and the free list agree.
#include <stdexcept>

#include "component_fixture.h"
#include "fuzz/component_invariants.h"

namespace {

using korvena::RuntimeError;

class HostMisuse : public fixture::ComponentTest {
 protected:
  void expectConsistent(const char* when) { EXPECT_EQ(korvena::invariants::inconsistency(), "") << when; }
  // The number of the runtime error an action raises; 0 when it raises none.
  template <typename F>
  long errorOf(F action) {
    try {
      action();
    } catch (const RuntimeError& e) {
      description = e.description();
      EXPECT_FALSE(description.empty());
      return e.number();
    }
    return 0;
  }
  std::string description;  // of the last error errorOf caught
  std::vector<std::string> pictures(int count) {
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) files.push_back(picture("p" + std::to_string(i) + ".png", 40 + i, 30));
    return files;
  }
  std::vector<long> listedSlots() {
    std::vector<long> listed;
    for (int i = 0; i < bar().cboImageName.listCount(); ++i) listed.push_back(bar().cboImageName.itemData(i));
    return listed;
  }
};

TEST_F(HostMisuse, OpenImageBeforeShowFormRaises91AndLeavesNothingHalfDone) {
  const auto files = pictures(2);
  app.srcAppName("KorvenaTest");
  app.Style("pbMDILoading");
  EXPECT_EQ(errorOf([&] { app.OpenImage(files[0], "early"); }), korvena::err::ObjectNotSet);
  expectConsistent("after the failed open");
  // Once the host calls ShowForm everything works as if the early call had
  // never been made: a complete toolbar and the first window in slot 1.
  app.ShowForm();
  EXPECT_EQ(bar().cboZoomRate.text(), "100%");
  app.OpenImage(files[0], "first");
  EXPECT_EQ(state().CurrentIndex, 1);
  EXPECT_EQ(listedSlots(), std::vector<long>({1}));
  EXPECT_EQ(photo(1).PictureWidth, 40 * 15);
  expectConsistent("after ShowForm");
}

// A form whose load handler fails until it is allowed to succeed.
class FailingLoad : public kit::Form {
 public:
  FailingLoad() : kit::Form("frmFailing") {}
  bool fail = true;
  int loads = 0;
  kit::TextBox* box = nullptr;

 protected:
  struct Controls : kit::ControlSet {
    explicit Controls(kit::Form& f) : text(f, "txt") {}
    kit::TextBox text;
  };
  std::unique_ptr<kit::ControlSet> createControls() override {
    auto controls = std::make_unique<Controls>(*this);
    box = &controls->text;
    return controls;
  }
  void Form_Load() override {
    ++loads;
    box->setText("half");
    if (fail) throw RuntimeError(korvena::err::ObjectNotSet, "no object");
    box->setText("whole");
  }
};

TEST_F(HostMisuse, AFailedFormLoadLeavesTheFormUnloaded) {
  FailingLoad form;
  EXPECT_EQ(errorOf([&] { form.show(); }), korvena::err::ObjectNotSet);
  // Loaded, known by name, its window and the windows standing.
  EXPECT_EQ(std::tuple(form.loaded(), kit::isFormLoaded("frmFailing"), form.hwnd(), kit::platform().zOrder().size()),
            std::tuple(false, false, 0L, size_t{0}));
  // The next use loads it afresh and the whole handler runs.
  form.fail = false;
  form.show();
  EXPECT_EQ(form.loads, 2);
  EXPECT_TRUE(form.loaded());
  EXPECT_EQ(form.box->text(), "whole");
  form.unload();
  kit::platform().collectGarbage();
}

TEST_F(HostMisuse, ThumbNavHandlersThatOpenTwiceRaiseThumbNavAgainCloseWindowsOrUnloadTheToolbar) {
  const auto files = pictures(3);
  start(true);
  app.setThumbNavHandler([&](uint8_t, bool& last) {
    app.OpenImage(files[0], "a");
    app.OpenImage(files[1], "b");
    last = true;
  });
  clickButton("MoveNext");
  EXPECT_EQ(listedSlots(), std::vector<long>({1, 2}));
  EXPECT_EQ(state().CurrentIndex, 2);
  expectConsistent("after two opens in one event");
  clickButton("NewWindow");  // back to one window: the nested opens reuse it
  int depth = 0;
  app.setThumbNavHandler([&](uint8_t dir, bool& last) {
    app.OpenImage(files[static_cast<size_t>(depth++)], "nested");
    if (depth < 3) last = app.FireEventThumbNav(dir);
  });
  clickButton("MoveFirst");
  EXPECT_EQ(depth, 3);
  EXPECT_EQ(listedSlots(), std::vector<long>({1, 2}));
  EXPECT_EQ(photo(state().CurrentIndex).PictureWidth, 42 * 15);
  expectConsistent("after nested events");
  clickButton("NewWindow");
  // Closes the current window, then opens another in its place.
  app.setThumbNavHandler([&](uint8_t, bool&) {
    photo(state().CurrentIndex).c().mnuPopClose.userClick();
    app.OpenImage(files[2], "2");
  });
  clickButton("MoveNext");
  EXPECT_EQ(listedSlots(), std::vector<long>({1, 2}));
  expectConsistent("after close and open in the handler");
  // Tears the whole component down from inside the toolbar's own click.
  app.setThumbNavHandler([&](uint8_t, bool&) { app.UnloadForm(); });
  clickButton("MoveNext");
  kit::platform().collectGarbage();
  EXPECT_FALSE(kit::isFormLoaded("frmNavToolbar"));
  expectConsistent("after UnloadForm in the handler");
  EXPECT_EQ(errorOf([&] { app.UnloadForm(); }), 0);
  expectConsistent("after a second UnloadForm");
  // And during a slideshow tick.
  start();
  host.attach(app);
  host.files = files;
  bar().txtSecond.setText("1");
  bar().mnuPopOptionStartSlideshow.userClick();
  EXPECT_EQ(listedSlots(), std::vector<long>({1}));  // started again from slot 1
  int asked = 0;
  app.setThumbNavHandler([&](uint8_t, bool&) {
    ++asked;
    app.UnloadForm();
  });
  advance(1000);
  EXPECT_EQ(asked, 1);
  for (int slot = 1; slot <= korvena::photoWindowsUpperBound(); ++slot)
    EXPECT_EQ(korvena::loadedPhotoWindow(slot), nullptr);
  expectConsistent("after UnloadForm in a slideshow tick");
  // The tick reads the minutes box after the event, which loads the toolbar
  // afresh; its new timer is not running, the old one went with the old toolbar.
  advance(5000);
  EXPECT_EQ(asked, 1);
  expectConsistent("after more ticks");
}

TEST_F(HostMisuse, HandlerErrorsReachTheCallerAndTheToolbarGoesOn) {
  const auto files = pictures(2);
  start();
  app.OpenImage(files[0], "0");
  app.setThumbNavHandler([](uint8_t, bool&) { throw RuntimeError(7, "the host ran out of memory"); });
  EXPECT_EQ(errorOf([&] { clickButton("MoveNext"); }), 7);
  EXPECT_EQ(description, "the host ran out of memory");
  expectConsistent("after a throwing handler");
  // An error that is not a runtime error passes through unchanged as well.
  app.setThumbNavHandler([](uint8_t, bool&) { throw std::logic_error("host bug"); });
  EXPECT_THROW(clickButton("MovePrevious"), std::logic_error);
  expectConsistent("after a foreign exception");
  // The same handler inside a slideshow tick: the tick's error reaches the
  // caller of the clock and the next ticks still run.
  int calls = 0;
  app.setThumbNavHandler([&](uint8_t, bool&) {
    if (++calls == 1) throw RuntimeError(5, "first tick fails");
    app.OpenImage(files[1], "1");
  });
  bar().txtSecond.setText("1");
  bar().mnuPopOptionStartSlideshow.userClick();
  EXPECT_EQ(errorOf([&] { advance(1000); }), 5);
  advance(1000);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(photo(1).PictureWidth, 41 * 15);
  expectConsistent("after the slideshow's ticks");
  // A good handler afterwards is served as usual.
  host.attach(app);
  host.files = files;
  clickButton("MoveFirst");
  EXPECT_EQ(photo(1).PictureWidth, 40 * 15);
}

TEST_F(HostMisuse, EmptyMissingAndFolderPathsGiveOneErrorEach) {
  start(true);
  const std::string paths[] = {"", (dir / "missing.png").string(), dir.string(), "/dev/null",
                               (dir / "no" / "such" / "folder" / "x.jpg").string()};
  for (const std::string& path : paths) {
    kit::platform().takeEvents();
    EXPECT_EQ(errorOf([&] { app.OpenImage(path, ""); }), 0) << path;
    const auto boxes = messageBoxes();
    ASSERT_EQ(boxes.size(), 1u) << path;
    EXPECT_EQ(boxes[0].title, "Error");
    expectConsistent(path.c_str());
  }
  // Each open still got its listed window, with an empty name.
  EXPECT_EQ(bar().cboImageName.listCount(), 5);
  EXPECT_EQ(bar().cboImageName.itemText(0), "");
}

TEST_F(HostMisuse, UnloadBeforeShowOtherStylesOddDirectionsNoHandlerAndASecondApplicationThatGoesAway) {
  app.UnloadForm();
  EXPECT_FALSE(kit::isFormLoaded("frmNavToolbar"));
  app.Style("other");
  app.ShowForm();
  EXPECT_FALSE(kit::isFormLoaded("frmNavToolbar"));
  app.Style();
  EXPECT_EQ(state().sViewStyle, "");
  EXPECT_FALSE(app.FireEventThumbNav(3));  // the host has no pictures: no end reported
  start();
  for (int dir : {0, 5, 255}) EXPECT_FALSE(app.FireEventThumbNav(static_cast<uint8_t>(dir)));
  app.setThumbNavHandler(nullptr);
  clickButton("MoveNext");  // nobody listens: nothing happens
  EXPECT_EQ(korvena::photoWindowsUpperBound(), 0);
  expectConsistent("with no handler");
  // A second application that goes away.
  {
    korvena::Application second;
    second.ShowForm();  // the toolbar now reaches the host through `second`
  }
  // The toolbar must not call through the object that is gone: error 91.
  EXPECT_EQ(errorOf([&] { clickButton("MoveNext"); }), korvena::err::ObjectNotSet);
  expectConsistent("after the second object went");
  app.ShowForm();
  host.attach(app);
  host.files = {picture("a.png", 20, 20)};
  clickButton("MoveNext");
  EXPECT_EQ(listedSlots(), std::vector<long>({1}));
}

}  // namespace
