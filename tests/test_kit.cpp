// The forms layer: its own rules on the headless platform, and its Qt view
// under the offscreen platform, where user actions on the real widgets reach
// the kit's handlers, kit changes reach the windows once and without echo, and
// the window system's reports are read by content.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QTabBar>
#include <QTimer>
#include <QWindow>
#include <functional>

#include "component_fixture.h"
#include "kit/controls.h"
#include "kit/qt/photo_widget.h"
#include "kit/qt/placement.h"
#include "kit/qt/qt_backend.h"
#include "kit/qt/qt_platform.h"
#include "korvena/Platform.h"

using namespace kit;

namespace {

// The tests' QApplication, made once and kept to the end (as a host's would be).
void ensureApplication() {
  static int argc = 1;
  static char name[] = "korvena_tests";
  static char* argv[] = {name, nullptr};
  [[maybe_unused]] static QApplication* app = qApp ? nullptr : new QApplication(argc, argv);
  ASSERT_NE(qobject_cast<QApplication*>(QCoreApplication::instance()), nullptr);
}

qt::QtPlatform& view() { return *qt::QtPlatform::current(); }

// Runs the event loop for a while and until the view has applied the kit's state.
void pump(int ms = 0) {
  QElapsedTimer elapsed;
  elapsed.start();
  auto due = [] { return qt::QtPlatform::current() && qt::QtPlatform::current()->loop().pending(); };
  do {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  } while (elapsed.elapsed() < ms || (due() && elapsed.elapsed() < 2000));
}

// The window-system window of a form's window (Qt names it after the widget).
QWindow* windowHandle(const QString& formName) {
  for (QWindow* w : QGuiApplication::topLevelWindows())
    if (w->objectName() == formName + "Window") return w;
  return nullptr;
}

void pressKey(QObject* target, int code, const QString& text = {}) {
  QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &release);
}

void typeText(QObject* target, const QString& text) {
  for (QChar ch : text) pressKey(target, ch.toUpper().unicode(), QString(ch));
}

void pressMouse(QWidget* target, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
  const QPointF p(at);
  QMouseEvent press(QEvent::MouseButtonPress, p, p, button, button, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, p, p, button, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &release);
}

void click(QObject* button) { qobject_cast<QAbstractButton*>(button)->click(); }

// Once a window of this kind shows, sends it these keys (from a timer: the window runs its own loop).
void answerWhenShown(std::function<bool(QWindow*)> which, std::vector<int> keys, QString* title = nullptr) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, which, keys, title] {
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
      if (!window->isVisible() || !which(window)) continue;
      if (title) *title = window->title();
      for (int code : keys) pressKey(window, code);
      timer->stop();
      timer->deleteLater();
      return;
    }
  });
  timer->start();
}

void answerMessageBox(QString* title = nullptr) {
  answerWhenShown([](QWindow* w) { return w->modality() != Qt::NonModal; }, {Qt::Key_Return}, title);
}

struct Controls : ControlSet {
  explicit Controls(Form& f)
      : bar(f, "bar"),
        zoom(f, "zoom", ComboBox::Style::Dropdown),
        list(f, "list", ComboBox::Style::List),
        tabs(f, "tabs"),
        page(f, "page", 1, "Page"),
        check(f, "chk", "Check"),
        opt1(f, "opt", 1, ""),
        opt2(f, "opt", 2, ""),
        text(f, "txt"),
        updown(f, "udn", text, 0, 59),
        command(f, "cmd", "Go"),
        hbar(f, "hbar", ScrollBar::Orientation::Horizontal),
        picture(f, "pic"),
        image(f, "img"),
        label(f, "lbl", "Label"),
        timer(f, "tmr"),
        menu(f, "mnu", "Menu"),
        item(menu.addItem("mnuItem", "Item")) {
    bar.move(0, 0, 3000, Toolbar::kRowHeight);
    bar.addButton("MoveFirst", Toolbar::ButtonStyle::Normal, "First", "MoveFirst");
    bar.addButton("Sep", Toolbar::ButtonStyle::Separator, "", "");
    bar.addButton("Details", Toolbar::ButtonStyle::DropDown, "Details", "MoreDetails");
    zoom.setContainer(&bar);
    zoom.move(1200, 37, 1300, 315);
    for (const char* entry : {"Fit", "10%", "100%"}) zoom.addItem(entry);
    list.move(3000, 0, 1500, 315);
    for (const char* entry : {"a.png", "b.png", "c.png"}) list.addItem(entry);
    tabs.move(0, 450, 4500, 2400);
    for (const char* caption : {"One", "Two", "Three", "Four"}) tabs.addTab(caption);
    page.move(10, 460, 4000, 1500);
    check.setContainer(&page);
    check.move(150, 150, 1500, 315);
    text.move(4800, 450, 600, 315);
    updown.move(5400, 450, 255, 315);
    text.setText("0");
    opt1.move(4800, 900, 300, 300);
    opt2.move(5100, 900, 300, 300);
    command.move(4800, 1350, 1200, 375);
    hbar.move(0, 3000, 3000, 240);
    hbar.setMax(100);
    hbar.setLargeChange(10);
    picture.move(3300, 3000, 1500, 1500);
    image.setContainer(&picture);
    image.move(-300, 0, 1800, 1200);
    label.move(4800, 1800, 900, 255);
    menu.setVisible(false);
  }
  Toolbar bar;
  ComboBox zoom, list;
  TabStrip tabs;
  Frame page;
  CheckBox check;
  OptionButton opt1, opt2;
  TextBox text;
  UpDown updown;
  CommandButton command;
  ScrollBar hbar;
  PictureBox picture;
  ImageControl image;
  Label label;
  Timer timer;
  Menu menu;
  Menu& item;
};

// Every event of the form's controls goes into its log as one entry.
class TestForm : public Form {
 public:
  explicit TestForm(std::string name = "frmTest", int borderStyle = 2) : Form(std::move(name)) {
    design.borderStyle = borderStyle;
    design.left = design.top = 1500;
    design.width = 7500;
    design.height = 6000;
  }
  Controls& c() { return static_cast<Controls&>(controlSet()); }
  std::vector<std::string> log;
  int activates = 0, resizes = 0, ticks = 0, cancelMode = -1;

 protected:
  std::unique_ptr<ControlSet> createControls() override {
    auto k = std::make_unique<Controls>(*this);
    auto note = [this](std::string what, int n) { log.push_back(what + " " + std::to_string(n)); };
    k->bar.onButtonClick = [this](Toolbar::Button& b) { log.push_back("click " + b.key); };
    k->bar.onButtonDropDown = [this](Toolbar::Button& b) { log.push_back("dropdown " + b.key); };
    k->zoom.onKeyPress = [this, note](int& ascii) {
      note("key", ascii);
      if (ascii == 'x') ascii = 0;
      if (ascii == 13) {
        ascii = 0;
        c().zoom.setSelStart(0);
        c().zoom.setSelLength(static_cast<int>(c().zoom.text().size()));
      }
    };
    k->zoom.onClick = [this] { log.push_back("zoom click " + c().zoom.text()); };
    k->list.onClick = [this, note] { note("list click", c().list.listIndex()); };
    k->tabs.onClick = [this, note] { note("tab", c().tabs.selectedIndex()); };
    k->check.onClick = [this, note] { note("check", c().check.value()); };
    for (OptionButton* o : {&k->opt1, &k->opt2}) o->onClick = [note](int i) { note("opt", i); };
    k->text.onChange = [this] { log.push_back("text " + c().text.text()); };
    k->updown.onMouseDown = [this](int, int, float, float) { log.push_back("updown"); };
    k->command.onClick = [this] { log.push_back("command"); };
    k->hbar.onScroll = [this, note] { note("scroll", c().hbar.value()); };
    k->hbar.onChange = [this, note] { note("change", c().hbar.value()); };
    k->image.onMouseUp = [this](int b, int, float x, float y) {
      log.push_back("mouseup " + std::to_string(b) + " " + std::to_string(int(x)) + "," + std::to_string(int(y)));
    };
    k->timer.onTimer = [this] { ++ticks; };
    return k;
  }
  void Form_Activate() override { ++activates; }
  void Form_Resize() override { ++resizes; }
  void Form_KeyDown(int& code, int) override { log.push_back("keydown " + std::to_string(code)); }
  void Form_QueryUnload(int& cancel, int mode) override {
    log.push_back("queryunload " + std::to_string(mode));
    if (mode == cancelMode) cancel = 1;
  }
};

// A form's place and size, in twips.
std::vector<float> place(const Form& f) { return {f.left(), f.top(), f.width(), f.height()}; }

std::string takeLog(TestForm& f) {
  std::string all;
  for (auto& entry : f.log) all += (all.empty() ? "" : "; ") + entry;
  f.log.clear();
  return all;
}

class QtView : public ::testing::Test {
 protected:
  void SetUp() override {
    ensureApplication();
    korvena::ResetComponent();
    korvena::UsePlatform(korvena::Platform::Qt);
    ASSERT_EQ(korvena::CurrentPlatform(), korvena::Platform::Qt);
  }
  void TearDown() override {
    korvena::ResetComponent();
    korvena::UsePlatform(korvena::Platform::Headless);
    pump();
  }
  void showForm(Form& f) {
    f.show();
    pump(20);
  }
  template <typename W = QWidget>
  W* widget(const Control& control) {
    return qobject_cast<W*>(view().widget(control));
  }
  // Reports the window at this place, as the window system would.
  void report(QWidget* window, const QRect& place, int ms = 30) {
    window->setGeometry(place);
    pump(ms);
  }
  static void expectPlace(const Form& f, float left, float top) {
    EXPECT_EQ(std::pair(f.left(), f.top()), std::pair(left, top));
  }
};

class QtViewComponent : public fixture::ComponentTest {
 protected:
  void SetUp() override {
    ensureApplication();
    ComponentTest::SetUp();
    korvena::UsePlatform(korvena::Platform::Qt);
  }
  void TearDown() override {
    ComponentTest::TearDown();
    korvena::UsePlatform(korvena::Platform::Headless);
    pump();
  }
};

class Kit : public ::testing::Test {
 protected:
  void SetUp() override { platform().reset(); }
  void TearDown() override { platform().reset(); }
};

}  // namespace

// Runs first: a process that has no QApplication yet.
TEST(QtViewPlatform, NeedsTheHostsApplication) {
  EXPECT_THROW(korvena::UsePlatform(static_cast<korvena::Platform>(7)), korvena::RuntimeError);
  if (QCoreApplication::instance()) GTEST_SKIP() << "an application object exists already";
  try {
    korvena::UsePlatform(korvena::Platform::Qt);
    FAIL() << "no error without a QApplication";
  } catch (const korvena::RuntimeError& e) {
    EXPECT_EQ(e.number(), 5);
  }
  EXPECT_EQ(korvena::CurrentPlatform(), korvena::Platform::Headless);
  EXPECT_EQ(platform().backend(), nullptr);
}

TEST_F(QtView, KitStateReachesTheWidgets) {
  TestForm f;
  f.c().check.setValue(1);
  f.c().hbar.setVisible(false);
  showForm(f);
  Controls& k = f.c();
  // Hidden before its window showed, and still hidden.
  EXPECT_FALSE(widget(k.hbar)->isVisible());
  EXPECT_EQ(view().toolButton(k.bar, "Sep"), nullptr);
  EXPECT_TRUE(widget<QAbstractButton>(k.check)->isChecked());
  // Twips to pixels, inside the containers the kit names.
  EXPECT_EQ(widget(k.zoom)->parentWidget(), widget(k.bar));
  EXPECT_EQ(widget(k.check)->parentWidget(), widget(k.page));
  EXPECT_EQ(widget(k.image)->geometry(), QRect(-20, 0, 120, 80));
  k.hbar.setVisible(true);
  k.list.setListIndex(2);
  k.tabs.select(3);
  k.opt2.setValue(true);
  k.check.setValue(2);
  k.text.setText("42");
  k.hbar.setValue(30);
  k.label.setVisible(false);
  k.command.setEnabled(false);
  k.zoom.setText("100%");  // selects the matching entry; the caret goes to the end
  pump();
  // (A disabled toolbar button: the user-action test below.)
  EXPECT_EQ(std::tuple(widget(k.hbar)->isVisible(), widget(k.label)->isVisible(), widget(k.command)->isEnabled()),
            std::tuple(true, false, false));
  EXPECT_EQ(widget<QComboBox>(k.list)->currentText(), "c.png");
  EXPECT_EQ(widget(k.tabs)->findChild<QTabBar*>("tabs")->currentIndex(), 2);
  EXPECT_EQ(std::pair(widget<QAbstractButton>(k.opt1)->isChecked(), widget<QAbstractButton>(k.opt2)->isChecked()),
            std::pair(false, true));
  EXPECT_EQ(widget<QCheckBox>(k.check)->checkState(), Qt::PartiallyChecked);  // greyed
  EXPECT_EQ(widget<QLineEdit>(k.text)->text(), "42");
  EXPECT_EQ(widget<QScrollBar>(k.hbar)->value(), 30);
  QLineEdit* edit = widget<QComboBox>(k.zoom)->lineEdit();
  // A selection set by code: the Enter key's handler below.
  EXPECT_EQ(std::tuple(widget<QComboBox>(k.zoom)->currentIndex(), edit->text(), edit->cursorPosition()),
            std::tuple(2, QString("100%"), 4));
}

TEST_F(QtView, UserActionsOnRealWidgetsReachTheHandlers) {
  TestForm f;
  showForm(f);
  Controls& k = f.c();
  QWidget* first = view().toolButton(k.bar, "MoveFirst");
  pressMouse(first, QPoint(13, 13));
  // The arrow part of the drop-down button drops down; the rest clicks.
  QWidget* details = view().toolButton(k.bar, "Details");
  pressMouse(details, QPoint(details->width() - 3, details->height() / 2));
  pressMouse(details, QPoint(6, details->height() / 2));
  EXPECT_EQ(takeLog(f), "click MoveFirst; dropdown Details; click Details");
  k.bar.setButtonEnabled(k.bar.button("MoveFirst"), false);
  pump();
  pressMouse(first, QPoint(13, 13));
  EXPECT_EQ(takeLog(f), "") << "a disabled button was clicked";
  // Clicking the selected option again keeps it selected (and clicks it).
  for (Control* c : std::initializer_list<Control*>{&k.check, &k.opt1, &k.opt2, &k.opt2}) click(widget(*c));
  EXPECT_EQ(std::tuple(k.opt1.value(), widget<QAbstractButton>(k.opt1)->isChecked(),
                       widget<QAbstractButton>(k.opt2)->isChecked()),
            std::tuple(false, false, true));
  EXPECT_EQ(takeLog(f), "check 1; opt 1; opt 2; opt 2");
  for (const char* arrow : {"up", "up", "down"}) click(widget(k.updown)->findChild<QObject*>(arrow));
  EXPECT_EQ(takeLog(f), "updown; text 1; updown; text 2; updown; text 1");
  EXPECT_EQ(widget<QLineEdit>(k.text)->text(), "1");
  click(widget(k.command));
  emit widget(k.tabs)->findChild<QTabBar*>("tabs")->tabBarClicked(1);
  // Dragging the thumb scrolls; a page step changes.
  widget<QScrollBar>(k.hbar)->setSliderPosition(7);
  pressKey(widget(k.hbar), Qt::Key_PageDown);
  pressKey(widget(k.list), Qt::Key_Down);
  // A right-button release on the picture, in twips of the picture.
  pressMouse(widget(k.image), QPoint(10, 4), Qt::RightButton);
  EXPECT_EQ(takeLog(f),
            "command; tab 2; scroll 7; change 7; keydown 34; scroll 17; change 17; keydown 40; list click 0; "
            "mouseup 2 150,60");
}

TEST_F(QtView, TypedKeysReachKeyPressAndChange) {
  TestForm f;
  showForm(f);
  ComboBox& zoom = f.c().zoom;
  auto* box = widget<QComboBox>(zoom);
  QLineEdit* edit = box->lineEdit();
  typeText(box, "1x5");
  EXPECT_EQ(std::tuple(zoom.text(), zoom.listIndex(), edit->text()), std::tuple(std::string("15"), -1, QString("15")));
  EXPECT_EQ(takeLog(f), "keydown 49; key 49; keydown 88; key 120; keydown 53; key 53");
  // No completion: "1" alone stays "1" though "10%" is listed.
  pressKey(box, Qt::Key_Backspace);
  EXPECT_EQ(edit->text(), "1");
  // Typing where the user put the caret.
  edit->setCursorPosition(0);
  typeText(edit, "9");
  EXPECT_EQ(std::pair(zoom.text(), edit->cursorPosition()), std::pair(std::string("91"), 1));
  // Enter reaches the handler, which selects the whole text.
  takeLog(f);
  pressKey(box, Qt::Key_Return, "\r");
  EXPECT_EQ(takeLog(f), "keydown 13; key 13");
  EXPECT_EQ(edit->selectedText(), "91");
  // Text the kit does not type itself (pasted, non-ASCII) arrives as the edited text.
  emit edit->textEdited(QString::fromUtf8("9é"));
  EXPECT_EQ(zoom.text(), "9\xC3\xA9");
  emit box->activated(2);
  EXPECT_EQ(zoom.text(), "100%");
  EXPECT_EQ(takeLog(f), "zoom click 100%");
  // A text box raises Change for each typed character and takes edited text.
  TextBox& text = f.c().text;
  typeText(widget(text), "12");
  EXPECT_EQ(takeLog(f), "keydown 49; text 01; keydown 50; text 012");
  emit widget<QLineEdit>(text)->textEdited("0712");
  EXPECT_EQ(text.text(), "0712");
}

TEST_F(QtView, MovingAndResizingTheWindowReachTheForm) {
  TestForm f;
  showForm(f);
  QWidget* window = view().window(f);
  // A window manager answers the view's requests in order, late and in
  // steps: what reports a place and a size the view asked for is on its way
  // to the last request, and the form stays where the kit put it.
  const QRect first = window->geometry();
  f.move(3000, 2250, 6000, 4500);
  pump();
  const QRect second = window->geometry();
  ASSERT_TRUE(first.topLeft() != second.topLeft() && first.size() != second.size());
  const int resizesBefore = f.resizes;
  for (const QRect& step : {first, QRect(second.topLeft(), first.size()), second}) report(window, step);
  EXPECT_EQ(place(f), (std::vector<float>{3000, 2250, 6000, 4500}));
  EXPECT_EQ(f.resizes, resizesBefore);
  // Once the last request is answered, the first one's place is a move.
  report(window, QRect(first.topLeft(), second.size()));
  expectPlace(f, 1500, 1500);
  // A place the window manager imposes is taken at once, however soon after
  // the window showed, and is no resize; a size it imposes is one.
  f.hide();
  pump();
  showForm(f);
  const int resizes = f.resizes;
  report(window, window->geometry().translated(7, 7));
  expectPlace(f, 1500 + 7 * 15, 1500 + 7 * 15);
  report(window, QRect(window->geometry().topLeft(), QSize(300, 200)), 50);
  EXPECT_EQ(std::tuple(f.width(), f.height(), f.resizes),
            std::tuple(300 * 15 + f.frameWidth(), 200 * 15 + f.frameHeight(), resizes + 1));
  // The close box asks the form; a cancel keeps the window.
  f.cancelMode = 0;
  window->close();
  pump();
  EXPECT_TRUE(f.loaded() && window->isVisible());
  f.cancelMode = -1;
  QPointer<QWidget> closing(window);
  window->close();
  pump();
  EXPECT_FALSE(f.loaded());
  EXPECT_TRUE(closing.isNull() || !closing->isVisible());
  EXPECT_EQ(takeLog(f), "queryunload 0; queryunload 0");
}

TEST_F(QtView, KitChangesReachTheWindowOnceWithoutEcho) {
  struct EventCounter : QObject {
    std::map<QEvent::Type, int> counts;
    bool eventFilter(QObject*, QEvent* event) override { return ++counts[event->type()], false; }
  } counter;
  TestForm f;
  showForm(f);
  pump(50);
  QWidget* window = view().window(f);
  window->installEventFilter(&counter);
  // One handler's worth of changes: only the last state reaches the window.
  f.hide();
  f.move(9007, 1507, 6007, 4507);
  f.move(9008, 1508, 6008, 4508);
  f.show();
  f.setCaption("Moved");
  const int resizes = f.resizes;
  pump(100);
  window->removeEventFilter(&counter);
  // A window manager adds configure events of its own; offscreen there are none.
  if (QGuiApplication::platformName() == "offscreen") {
    EXPECT_EQ(std::pair(counter.counts[QEvent::Move], counter.counts[QEvent::Resize]), std::pair(1, 1));
  }
  EXPECT_EQ(counter.counts[QEvent::Hide], 0);
  EXPECT_EQ(window->windowTitle(), "Moved");
  const QMargins insets = view().loop().insets(f);
  EXPECT_EQ(window->geometry(),
            QRect(601 + insets.left(), 101 + insets.top(), qRound(f.scaleWidth() / 15), qRound(f.scaleHeight() / 15)));
  // The echo changed nothing in the kit: no rounding to whole pixels, no Resize.
  EXPECT_EQ(place(f), (std::vector<float>{9008, 1508, 6008, 4508}));
  EXPECT_EQ(f.resizes, resizes);
}

TEST_F(QtView, WindowFlagsFollowTheStyleWordsAndAClickActivatesItsForm) {
  TestForm photo("frmPhotoLike"), palette("frmPaletteLike", 4), background("frmBackGround", 0);
  showForm(photo);
  palette.load();
  palette.setExStyle(ws::ExTopmost | ws::ExToolWindow | ws::ExWindowEdge);
  palette.setTopmost(true);
  showForm(palette);
  pump(30);
  EXPECT_TRUE(view().window(palette)->windowFlags().testFlags(Qt::Tool | Qt::WindowStaysOnTopHint));
  // The window system is told to show it without activating; it does not
  // take the kit's activation, whatever the window system did.
  ASSERT_NE(windowHandle("frmPaletteLike"), nullptr);
  EXPECT_TRUE(windowHandle("frmPaletteLike")->property("_q_showWithoutActivating").toBool());
  EXPECT_EQ(platform().activeForm(), &photo);
  EXPECT_TRUE(view().window(photo)->isActiveWindow());
  // Dropping the caption bits makes a shown window frameless, and it stays shown.
  QWidget* window = view().window(photo);
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
  const QMargins frame = view().loop().insets(photo);
  photo.setStyle(photo.style() & ~ws::Caption);
  pump(50);
  EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint) && window->isVisible());
  const QRect frameless(100, 100, 500, 400);
  EXPECT_EQ(window->geometry(), frameless);
  // While the window manager takes the frame away, the window may pass
  // through the asked place moved by the frame's offset: not a move. Once
  // the window is where it was asked, the same report is one.
  report(window, frameless.translated(frame.left(), frame.top()));
  expectPlace(photo, 1500, 1500);
  report(window, frameless);
  report(window, frameless.translated(frame.left(), frame.top()));
  expectPlace(photo, 1500 + frame.left() * 15, 1500 + frame.top() * 15);
  showForm(background);
  QWidget* black = view().window(background);
  EXPECT_TRUE(black->windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_EQ(black->palette().color(QPalette::Window), QColor(Qt::black));
  ASSERT_EQ(platform().activeForm(), &background);
  pressMouse(widget(photo.c().label), QPoint(2, 2));
  EXPECT_EQ(platform().activeForm(), &photo);
  // After the view's own showing has settled, the window system's activation is the user's.
  pump(qt::SyncLoop::kSettleMs + 50);
  ASSERT_NE(windowHandle("frmBackGround"), nullptr);
  windowHandle("frmBackGround")->requestActivate();
  pump(30);
  EXPECT_EQ(platform().activeForm(), &background);
}

TEST_F(QtView, PlacesReportedBeforeTheWindowIsMappedAreNotMoves) {
  // Setting a window's geometry stands for what X reports; with a real
  // window manager it would be a request, which the window manager carries out.
  if (QGuiApplication::platformName() != "offscreen") GTEST_SKIP() << "needs the offscreen platform";
  TestForm f;
  f.show();
  view().flush();  // shown; the window system maps it in its own time
  QWidget* window = view().window(f);
  QWindow* handle = windowHandle("frmTest");
  ASSERT_NE(handle, nullptr);
  if (handle->isExposed()) GTEST_SKIP() << "this window system maps a window before show() returns";
  // X reports the corner of a frame the window manager has only begun.
  report(window, QRect(QPoint(0, 0), window->geometry().size()));
  ASSERT_TRUE(handle->isExposed());
  expectPlace(f, 1500, 1500);
  // Once mapped, the window is asked for its place again (inside the frame learnt meanwhile).
  const QMargins insets = view().loop().insets(f);
  EXPECT_EQ(window->geometry().topLeft(), QPoint(100 + insets.left(), 100 + insets.top()));
}

TEST(QtViewPlacement, AFrameCountsOnceBuiltAndAnswersToRequestsInFlightAreNotMoves) {
  for (QMargins built : {QMargins(1, 20, 1, 5), QMargins(0, 0, 0, 2)}) EXPECT_EQ(qt::builtFrame(built), built);
  // A window reparented into a frame still one pixel wide; no frame yet, or none at all.
  for (QMargins unbuilt : {QMargins(0, 0, -178, -26), QMargins(1, -3, 1, 5), QMargins()})
    EXPECT_FALSE(qt::builtFrame(unbuilt).has_value());
  // Answers to requests in flight are not moves.
  const QRect a(100, 100, 200, 150), b(300, 120, 250, 160), c(40, 50, 60, 70);
  qt::PlaceRequests requests;
  requests.ask(a);
  requests.ask(b);
  // Late, and resized before moved (moved first: the Qt view's moving test).
  EXPECT_TRUE(requests.answering(QRect(a.topLeft(), b.size())));
  // The frame's offset only while a frame comes or goes (goes: the window-flags test).
  EXPECT_TRUE(requests.answering(b.translated(-1, -20), QPoint(1, 20)));
  EXPECT_FALSE(requests.answering(b.translated(2, 20), QPoint(1, 20)));
  // An answer to the second request: the first one is answered.
  EXPECT_TRUE(requests.answering(b));
  EXPECT_EQ(requests.pending(), std::vector<QRect>{b});
  EXPECT_FALSE(requests.answering(a));
  requests.settle(c);
  EXPECT_EQ(requests.pending(), std::vector<QRect>{c});
  EXPECT_FALSE(requests.answering(b));
  // Only the latest requests are kept.
  const int asked = static_cast<int>(qt::PlaceRequests::kKept) + 4;
  for (int i = 0; i < asked; ++i) requests.ask(QRect(i, 0, 10 + i, 10));
  ASSERT_EQ(requests.pending().size(), qt::PlaceRequests::kKept);
  const QRect last(asked - 1, 0, 10 + asked - 1, 10);
  EXPECT_EQ(requests.pending().back(), last);
  EXPECT_FALSE(requests.answering(QRect(0, 0, 10, 10)));
  EXPECT_TRUE(requests.answering(QRect(4, 0, 14, 10)));
  EXPECT_TRUE(requests.answering(last));
  requests.clear();
  EXPECT_FALSE(requests.answering(last));
}

TEST_F(QtView, TheHiddenCursorIsOneOverrideEntry) {
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  platform().showCursor(false);
  platform().showCursor(false);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::BlankCursor);
  platform().setMousePointer(11);
  platform().showCursor(true);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::BlankCursor);
  platform().showCursor(true);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  platform().setMousePointer(0);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(QtView, TimersRunOnTheRealClockAndMoveBetweenClocks) {
  EXPECT_EQ(platform().virtualClock(), nullptr);
  TestForm f;
  f.load();
  Timer& timer = f.c().timer;
  timer.setInterval(15);
  timer.setTimerEnabled(true);
  pump(300);
  EXPECT_GE(f.ticks, 3);
  timer.setTimerEnabled(false);
  int ticks = f.ticks;
  pump(60);
  EXPECT_EQ(f.ticks, ticks);
  // No tick while a message box is open.
  timer.setTimerEnabled(true);
  pump(40);
  int during = -1;
  QTimer::singleShot(150, [&] {
    during = f.ticks;
    answerMessageBox();
  });
  ticks = f.ticks;
  EXPECT_EQ(platform().msgBox("Wait", "Title", 0), 1);
  EXPECT_EQ(during, ticks);
  pump(60);
  EXPECT_GT(f.ticks, ticks);
  // A running timer goes to the virtual clock and back with the platform.
  timer.setInterval(20);
  korvena::UsePlatform(korvena::Platform::Headless);
  ASSERT_NE(platform().virtualClock(), nullptr);
  ticks = f.ticks;
  platform().virtualClock()->advance(45);
  EXPECT_EQ(f.ticks, ticks + 2);
  korvena::UsePlatform(korvena::Platform::Qt);
  EXPECT_TRUE(view().clock().scheduled(timer));
}

TEST_F(QtView, MessageBoxesHandlersErrorsAndPopupMenusThroughRealWindowsAndAComponentReset) {
  // Yes/No with the second default; Abort/Retry/Ignore with the third; OK/Cancel asking for a third gets the last.
  for (auto [flags, answer] : {std::pair{4 + 32 + 256, 7}, {2 + 512, 5}, {1 + 512, 2}}) {
    answerMessageBox();
    EXPECT_EQ(platform().msgBox("Sure?", "Question", flags), answer) << flags;
  }
  EXPECT_EQ(qt::messageBoxLook(48).icon, QMessageBox::Warning);
  TestForm f;
  showForm(f);
  // A runtime error in a handler becomes a critical-error box; the view goes on.
  f.c().command.onClick = [] { throw korvena::RuntimeError(91, "Object variable or With block variable not set"); };
  platform().takeEvents();
  QString title;
  answerMessageBox(&title);
  click(widget(f.c().command));
  auto events = platform().takeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(std::tuple(events[0].kind, events[0].text, events[0].flags, title),
            std::tuple(PlatformEvent::Kind::MessageBox, std::string("Object variable or With block variable not set"),
                       16, QString("Error")));
  click(widget(f.c().check));
  EXPECT_EQ(f.c().check.value(), 1);
  // The view survives a component reset.
  QPointer<QWidget> window = view().window(f);
  korvena::ResetComponent();
  EXPECT_EQ(korvena::CurrentPlatform(), korvena::Platform::Headless);
  pump();
  EXPECT_TRUE(window.isNull() || !window->isVisible());
  korvena::UsePlatform(korvena::Platform::Qt);
  showForm(f);
  ASSERT_TRUE(view().window(f) && view().window(f)->isVisible());
  takeLog(f);
  click(widget(f.c().command));
  EXPECT_EQ(takeLog(f), "command");
  // A menu item that unloads its own form is safe.
  f.c().command.onClick = [&f] { f.popupMenu(f.c().menu, 150, 150); };
  f.c().item.onClick = [&f] { f.unload(); };
  answerWhenShown([](QWindow* w) { return w->type() == Qt::Popup; }, {Qt::Key_Down, Qt::Key_Return});
  click(widget(f.c().command));
  pump();
  EXPECT_FALSE(f.loaded());
  EXPECT_EQ(view().window(f), nullptr);
}

// ---- Painting ----

TEST(QtViewPhoto, PaintsOnlyTheExposedPartAtTheShownScaleSmoothlyUnlessScrolling) {
  QImage halves(4, 2, QImage::Format_RGB32);  // left half red, right half blue
  halves.fill(Qt::red);
  QPainter(&halves).fillRect(2, 0, 2, 2, Qt::blue);
  QImage target(8, 4, QImage::Format_RGB32);
  target.fill(Qt::white);
  {
    QPainter painter(&target);
    qt::paintPicture(painter, halves, QSize(8, 4), QRect(2, 0, 4, 2), false);
    qt::paintPicture(painter, halves, QSize(8, 4), QRect(20, 20, 5, 5), false);  // outside: nothing
  }
  const std::pair<QPoint, QRgb> pixels[] = {{{0, 0}, qRgb(255, 255, 255)}, {{2, 0}, qRgb(255, 0, 0)},
                                            {{3, 1}, qRgb(255, 0, 0)},     {{4, 0}, qRgb(0, 0, 255)},
                                            {{5, 1}, qRgb(0, 0, 255)},     {{6, 0}, qRgb(255, 255, 255)},
                                            {{4, 2}, qRgb(255, 255, 255)}};
  for (const auto& [at, colour] : pixels) EXPECT_EQ(target.pixel(at), colour) << at.x() << "," << at.y();
  // Columns alternate black and white; at half size they blend when smooth.
  QImage stripes(8, 8, QImage::Format_RGB32);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) stripes.setPixel(x, y, x % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
  auto paint = [&](bool fast) {
    QImage shrunk(4, 4, QImage::Format_RGB32);
    shrunk.fill(Qt::red);
    QPainter painter(&shrunk);
    qt::paintPicture(painter, stripes, QSize(4, 4), QRect(0, 0, 4, 4), fast);
    painter.end();
    return qGray(shrunk.pixel(1, 1));
  };
  const int smooth = paint(false), fast = paint(true);
  EXPECT_GT(smooth, 40);
  EXPECT_LT(smooth, 215);
  EXPECT_TRUE(fast == 0 || fast == 255) << fast;
}

// ---- The component through real windows ----

// At the default font every entry of the zoom box reads in full, in the box and in its list.
TEST_F(QtViewComponent, EveryZoomEntryReadsInFullInTheBoxAndItsList) {
  start();
  host.files = {picture("a.png", 40, 30)};
  host.open(0);
  clickButton("Details");
  pump(20);
  auto* zoom = qobject_cast<QComboBox*>(view().widget(bar().cboZoomRate));
  ASSERT_NE(zoom, nullptr);
  QLineEdit* edit = zoom->lineEdit();
  const QFontMetrics metrics(edit->font());
  const int editRoom = edit->width() - edit->textMargins().left() - edit->textMargins().right() - 4;
  zoom->showPopup();
  pump();
  const int listRoom = zoom->view()->viewport()->width();
  zoom->hidePopup();
  ASSERT_GT(zoom->count(), 0);
  for (int i = 0; i < zoom->count(); ++i) {
    const int needed = metrics.horizontalAdvance(zoom->itemText(i));
    EXPECT_LE(needed, editRoom) << zoom->itemText(i).toStdString() << " is cut in the box";
    EXPECT_LE(needed + 8, listRoom) << zoom->itemText(i).toStdString() << " is cut in the list";
  }
}

// ---- The kit's own rules on the headless platform ----
// (Controls' events and the combo box's text and caret are checked through
// the Qt view above and the toolbar's tests.)

TEST_F(Kit, ShowActivatesAndZOrderKeepsTwoBands) {
  TestForm a("a"), b("b"), tool("tool", 4);
  a.show();
  b.show();
  EXPECT_TRUE(b.active());
  EXPECT_EQ(std::pair(a.activates, b.activates), std::pair(1, 1));
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
  a.setFocus();  // already active: no second Activate
  EXPECT_TRUE(a.active());
  EXPECT_EQ(a.activates, 2);
  EXPECT_THROW(b.setFocus(), korvena::RuntimeError);
}

TEST_F(Kit, CodeMovesAMaximisedWindowWhereItGoesBackTo) {
  TestForm f;
  f.move(100, 200, 3000, 2000);
  f.setWindowState(2);
  const int resizes = f.resizes;
  f.setWidth(4500);
  f.setTop(600);
  EXPECT_EQ(f.width(), platform().screenWidth());
  EXPECT_EQ(f.resizes, resizes);
  f.setWindowState(0);
  EXPECT_EQ(place(f), std::vector<float>({100, 600, 4500, 2000}));
}

TEST_F(Kit, TimersFireInTimeOrderOnTheVirtualClock) {
  TestForm f("f"), g("g");
  std::vector<std::string> ticks;
  Timer &t1 = f.c().timer, &t2 = g.c().timer;
  auto note = [&](const char* who) { ticks.push_back(who + std::to_string(int(platform().clock().now()))); };
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
  t1.onTimer = [&] { f.unload(1); };
  platform().virtualClock()->advance(1000);
  EXPECT_FALSE(f.loaded());
}
