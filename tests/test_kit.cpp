// The forms layer's rules: synchronous events, the caret and combo rules,
// load and unload, activation and z-order, timers on the virtual clock.
#include <gtest/gtest.h>

#include "kit/controls.h"
#include "korvena/RuntimeError.h"

using namespace kit;

namespace {

struct TestControls : ControlSet {
  explicit TestControls(Form& f)
      : combo(f, "cbo", ComboBox::Style::Dropdown),
        list(f, "lst", ComboBox::Style::List),
        check(f, "chk", "Box"),
        text(f, "txt"),
        updown(f, "udn", text, 0, 59),
        bar(f, "bar", ScrollBar::Orientation::Vertical),
        timer(f, "tmr"),
        opt11(f, "opt", 11, ""),
        opt12(f, "opt", 12, "") {}
  ComboBox combo;
  ComboBox list;
  CheckBox check;
  TextBox text;
  UpDown updown;
  ScrollBar bar;
  Timer timer;
  OptionButton opt11;
  OptionButton opt12;
};

class TestForm : public Form {
 public:
  explicit TestForm(std::string name, int borderStyle = 2) : Form(std::move(name)) { design.borderStyle = borderStyle; }
  TestControls& c() { return static_cast<TestControls&>(controlSet()); }
  int loads = 0, activates = 0, resizes = 0, unloads = 0;
  int cancelMode = -1;  // QueryUnload cancels for this mode
  std::vector<int> queryModes;

 protected:
  std::unique_ptr<ControlSet> createControls() override { return std::make_unique<TestControls>(*this); }
  void Form_Load() override { ++loads; }
  void Form_Activate() override { ++activates; }
  void Form_Resize() override { ++resizes; }
  void Form_QueryUnload(int& cancel, int mode) override {
    queryModes.push_back(mode);
    if (mode == cancelMode) cancel = 1;
  }
  void Form_Unload(int&) override { ++unloads; }
};

class Kit : public ::testing::Test {
 protected:
  void SetUp() override { platform().reset(); }
  void TearDown() override { platform().reset(); }
};

}  // namespace

TEST_F(Kit, ControlsLoadTheirFormOnceAndUnloadKeepsTheObject) {
  TestForm f("frmTest");
  EXPECT_FALSE(f.loaded());
  f.c().text.setText("a");
  EXPECT_TRUE(f.loaded());
  EXPECT_EQ(f.loads, 1);
  f.c();
  EXPECT_EQ(f.loads, 1);
  EXPECT_TRUE(isFormLoaded("frmTest"));
  EXPECT_FALSE(isFormLoaded("frmtest"));

  f.cancelMode = 0;
  EXPECT_FALSE(f.unload(0));  // the close box is refused
  EXPECT_TRUE(f.loaded());
  EXPECT_TRUE(f.unload(1));
  EXPECT_EQ(f.queryModes, (std::vector<int>{0, 1}));
  EXPECT_EQ(f.unloads, 1);
  EXPECT_FALSE(isFormLoaded("frmTest"));
  EXPECT_TRUE(f.unload(1));  // not loaded: nothing runs
  EXPECT_EQ(f.queryModes.size(), 2u);

  // Loading again runs Load again and starts from the design values.
  EXPECT_EQ(f.c().text.text(), "");
  EXPECT_EQ(f.loads, 2);
}

TEST_F(Kit, EventsOnlyOnChangeAndValuesInRange) {
  TestForm f("f");
  int checks = 0, changes = 0, barChanges = 0;
  f.c().check.onClick = [&] { ++checks; };
  f.c().text.onChange = [&] { ++changes; };
  f.c().bar.onChange = [&] { ++barChanges; };
  f.c().check.setValue(1);
  f.c().check.setValue(1);
  f.c().check.userClick();
  EXPECT_EQ(checks, 2);
  EXPECT_EQ(f.c().check.value(), 0);
  f.c().text.setText("7");
  f.c().text.setText("7");
  EXPECT_EQ(changes, 1);
  f.c().bar.setMax(100);
  f.c().bar.setValue(50);
  f.c().bar.setValue(50);
  EXPECT_EQ(barChanges, 1);
  // Max falling below the value pulls the value in and raises Change.
  f.c().bar.setMax(20);
  EXPECT_EQ(f.c().bar.value(), 20);
  EXPECT_EQ(barChanges, 2);
  f.c().bar.setValue(-5);
  EXPECT_EQ(f.c().bar.value(), 0);

  // Option buttons click with their index, the selected one too.
  std::vector<int> clicked;
  for (OptionButton* o : {&f.c().opt11, &f.c().opt12}) o->onClick = [&](int i) { clicked.push_back(i); };
  for (OptionButton* o : {&f.c().opt11, &f.c().opt12, &f.c().opt12}) o->userClick();
  EXPECT_EQ(clicked, (std::vector<int>{11, 12, 12}));
  EXPECT_FALSE(f.c().opt11.value());
  // The up-down steps its buddy within its range; text that is no number starts from 0.
  f.c().text.setText("58");
  f.c().updown.userStep(true);
  f.c().updown.userStep(true);
  EXPECT_EQ(f.c().text.text(), "59");
  f.c().text.setText("abc");
  f.c().updown.userStep(false);
  EXPECT_EQ(f.c().text.text(), "0");
}

TEST_F(Kit, ComboTextAndCaretRules) {
  TestForm f("f");
  ComboBox& cb = f.c().combo;
  int clicks = 0;
  cb.onClick = [&] { ++clicks; };
  cb.addItem("Fit to Window");
  cb.addItem("100%");
  cb.setText("100%");
  EXPECT_EQ(cb.listIndex(), 1);  // matched without a Click
  EXPECT_EQ(clicks, 0);
  cb.setText("fit to window");
  EXPECT_EQ(cb.listIndex(), 0);
  cb.setText("37%");
  EXPECT_EQ(cb.listIndex(), -1);
  EXPECT_EQ(cb.selStart(), 3);
  EXPECT_EQ(cb.selLength(), 0);
  cb.setListIndex(1);
  EXPECT_EQ(cb.text(), "100%");
  EXPECT_EQ(clicks, 1);

  // Typing replaces the selection; the user's edit drops the list selection.
  cb.setSelStart(0);
  cb.setSelLength(4);
  cb.userKeyPress('5');
  EXPECT_EQ(cb.text(), "5");
  EXPECT_EQ(cb.listIndex(), -1);
  cb.userKeyPress('0');
  cb.userKeyPress(8);
  EXPECT_EQ(cb.text(), "5");
  EXPECT_EQ(cb.selStart(), 1);
  // A key handler that discards the character leaves the text alone.
  cb.onKeyPress = [](int& k) { k = 0; };
  cb.userKeyPress('x');
  EXPECT_EQ(cb.text(), "5");

  // A list's selection survives removal of entries before it.
  ComboBox& lst = f.c().list;
  for (auto t : {"a", "b", "c"}) lst.setItemData(lst.addItem(t), 7);
  lst.setListIndex(2);
  lst.removeItem(0);
  EXPECT_EQ(lst.listIndex(), 1);
  lst.removeItem(1);
  EXPECT_EQ(lst.listIndex(), -1);
  EXPECT_EQ(lst.text(), "");
  EXPECT_THROW(lst.setListIndex(5), korvena::RuntimeError);
}

TEST_F(Kit, ShowActivatesAndZOrderKeepsTwoBands) {
  TestForm a("a"), b("b"), tool("tool", 4);
  a.show();
  b.show();
  EXPECT_TRUE(b.active());
  EXPECT_EQ(a.activates, 1);
  EXPECT_EQ(b.activates, 1);
  tool.load();
  tool.setTopmost(true);
  tool.setExStyle(ws::ExTopmost | ws::ExToolWindow | ws::ExWindowEdge);
  tool.show();  // a top-most tool window does not take activation
  EXPECT_TRUE(b.active());
  tool.setWindowState(1);
  tool.show();  // nor stays minimised: the palette floats in sight
  EXPECT_EQ(tool.windowState(), 0);
  EXPECT_TRUE(b.active());
  EXPECT_EQ(platform().zOrder(), (std::vector<Form*>{&tool, &b, &a}));
  a.zOrder(0);
  EXPECT_EQ(platform().zOrder(), (std::vector<Form*>{&tool, &a, &b}));
  tool.zOrder(1);  // back of the top-most band is still above normal windows
  EXPECT_EQ(platform().zOrder().front(), &tool);
  a.zOrder(1);
  EXPECT_EQ(platform().zOrder().back(), &a);

  // Hiding the active window leaves no window active.
  b.hide();
  EXPECT_EQ(platform().activeForm(), nullptr);
  a.setFocus();
  EXPECT_TRUE(a.active());
  EXPECT_EQ(a.activates, 2);
  a.setFocus();  // already active: no second Activate
  EXPECT_EQ(a.activates, 2);
  EXPECT_THROW(b.setFocus(), korvena::RuntimeError);
}

TEST_F(Kit, CodeMovesAMaximisedWindowWhereItGoesBackTo) {
  TestForm f("f");
  f.move(100, 200, 3000, 2000);
  f.setWindowState(2);
  const int resizes = f.resizes;
  f.setWidth(4500);
  f.setTop(600);
  EXPECT_EQ(f.width(), platform().screenWidth());
  EXPECT_EQ(f.resizes, resizes);
  f.setWindowState(0);
  EXPECT_EQ(std::vector<float>({f.left(), f.top(), f.width(), f.height()}),
            std::vector<float>({100, 600, 4500, 2000}));
}

TEST_F(Kit, TimersFireInTimeOrderOnTheVirtualClock) {
  TestForm f("f");
  TestForm g("g");
  std::vector<std::string> ticks;
  Timer& t1 = f.c().timer;
  Timer& t2 = g.c().timer;
  auto note = [&](const char* who) {
    ticks.push_back(who + std::to_string(static_cast<int>(platform().clock().now())));
  };
  t1.onTimer = [&] { note("f@"); };
  t2.onTimer = [&] { note("g@"); };
  for (auto [timer, interval] : {std::pair{&t1, 30}, {&t2, 45}}) {
    timer->setInterval(interval);
    timer->setTimerEnabled(true);
  }
  platform().virtualClock()->advance(90);  // g was re-armed first for 90
  EXPECT_EQ(ticks, (std::vector<std::string>{"f@30", "g@45", "f@60", "g@90", "f@90"}));

  // Interval 0 never fires; enabling starts a full interval; range checked.
  ticks.clear();
  t2.setTimerEnabled(false);
  t1.setInterval(0);
  platform().virtualClock()->advance(1000);
  EXPECT_TRUE(ticks.empty());
  for (int outOfRange : {65536, -1}) EXPECT_THROW(t1.setInterval(outOfRange), korvena::RuntimeError);
  t1.setInterval(100);
  platform().virtualClock()->advance(50);
  t1.setTimerEnabled(false);
  t1.setTimerEnabled(true);
  platform().virtualClock()->advance(99);
  EXPECT_TRUE(ticks.empty());
  platform().virtualClock()->advance(1);
  EXPECT_EQ(ticks.size(), 1u);

  // A tick that unloads its own form stops the timer safely.
  ticks.clear();
  t1.onTimer = [&] { f.unload(1); };
  platform().virtualClock()->advance(1000);
  EXPECT_FALSE(f.loaded());
}
