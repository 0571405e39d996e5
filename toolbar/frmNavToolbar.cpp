// The toolbar window itself: its controls, the layout its load computes, the
// place and zoom rate it keeps between runs, its keys and its closing.
#include "toolbar/frmNavToolbar.h"

#include <cctype>
#include <charconv>
#include <iterator>

#include "component/basView.h"
#include "kit/numbers.h"
#include "kit/winapi.h"
#include "korvena/Application.h"
#include "photo/frmPhoto.h"
#include "support/basHTMLHelp.h"
#include "support/basRegistry.h"
#include "support/basWindow.h"
#include "support/frmBackGround.h"

namespace korvena {

namespace {
const char* const kSection = "Dialog\\D9";
// The farthest place a stored window position may name (about the largest
// single-precision number).
constexpr double kFarthestPlace = 3.4e38;
const char* const kZoomEntries[] = {kFitToWindow, "10%",  "25%",  "50%",  "75%",  "100%",
                                    "125%",       "150%", "200%", "400%", "800%", "1600%"};

void place(kit::Control& control, kit::Control* container, float left, float top, float width, float height) {
  control.setContainer(container);
  control.move(left, top, width, height);
}

// A stored value that is a whole number text (blanks around it allowed).
std::optional<double> storedNumber(const std::string& text) {
  size_t b = text.find_first_not_of(" \t");
  size_t e = text.find_last_not_of(" \t");
  if (b == std::string::npos) return std::nullopt;
  std::string_view t(text.data() + b, e - b + 1);
  if (t.front() == '+') t.remove_prefix(1);
  double value = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value, std::chars_format::fixed);
  if (ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
  return value;
}

// A stored setting, or the default when it is missing, not a number, or the
// store cannot be read: the toolbar always loads.
double readStoredNumber(const std::string& name, double fallback, double highest) {
  try {
    auto value = storedNumber(ReadSetting(view().sHostAppName, kSection, name, num::plainDecimal(fallback)));
    if (value && *value <= highest) return *value;
  } catch (const RuntimeError&) {
  }
  return fallback;
}
}  // namespace

frmNavToolbar::Controls::Controls(frmNavToolbar& f)
    : Toolbar(f, "Toolbar"),
      imlToolbar(f, "imlToolbar"),
      cboZoomRate(f, "cboZoomRate", kit::ComboBox::Style::Dropdown),
      cboImageName(f, "cboImageName", kit::ComboBox::Style::List),
      TabStrip(f, "TabStrip"),
      lblMinute(f, "lblMinute", "Minute"),
      lblSecond(f, "lblSecond", "Second"),
      txtMinute(f, "txtMinute"),
      txtSecond(f, "txtSecond"),
      udnMinute(f, "udnMinute", txtMinute, 0, kMostSlideMinutes),
      udnSecond(f, "udnSecond", txtSecond, 0, kMostSlideSeconds),
      chkRepeate(f, "chkRepeate", "Auto-Repeat"),
      chkBlankBack(f, "chkBlankBack", "Blank Screen"),
      chkNoBorder(f, "chkNoBorder", "No Border"),
      chkOpenSideway(f, "chkOpenSideway", "Sideway"),
      chkOpenDownway(f, "chkOpenDownway", "Downway"),
      lblTop(f, "lblTop", "Top"),
      lblLeft(f, "lblLeft", "Left"),
      lblRight(f, "lblRight", "Right"),
      lblBottom(f, "lblBottom", "Bottom"),
      cmdBringToFront(f, "cmdBringToFront", "Bring To Front"),
      cmdSendBack(f, "cmdSendBack", "Send Back"),
      cmdMinimise(f, "cmdMinimise", "Minimize All"),
      cmdCloseAll(f, "cmdCloseAll", "Close All"),
      tmrSlideShow(f, "tmrSlideShow"),
      mnuPopOption(f, "mnuPopOption", "popOption"),
      mnuPopOptionStartSlideshow(mnuPopOption.addItem("mnuPopOptionStartSlideshow", "Start Slideshow")) {
  Toolbar.move(0, 0, 7860, kit::Toolbar::kRowHeight);
  using Style = kit::Toolbar::ButtonStyle;
  Toolbar.addButton(buttons::kMoveFirst, Style::Normal, "Open first image", kit::image::kMoveFirst);
  Toolbar.addButton(buttons::kMovePrevious, Style::Normal, "Open previous image", kit::image::kMovePrevious);
  Toolbar.addButton(buttons::kMoveNext, Style::Normal, "Open next image", kit::image::kMoveNext);
  Toolbar.addButton(buttons::kMoveLast, Style::Normal, "Open last image", kit::image::kMoveLast);
  Toolbar.addButton(buttons::kSeparator, Style::Separator, "", "");
  Toolbar.addButton(buttons::kNewWindow, Style::Normal, "Open in same window,  Click to switch to new window",
                    kit::image::kSameWindow, kit::image::kSameWindow);
  Toolbar.addButton(buttons::kDetails, Style::DropDown, "", kit::image::kMoreDetails);
  imlToolbar.keys.assign(std::begin(kit::image::kAll), std::end(kit::image::kAll));

  // The zoom box is wide enough for its fit entry (kFitToWindow) at the
  // desktop's default font, beside its arrow.
  place(cboZoomRate, &Toolbar, 2775, 37, 1800, 315);
  place(cboImageName, &Toolbar, 4695, 37, 2484, 315);
  TabStrip.move(0, 390, 6880, 1956);
  for (auto caption : {"Auto Slide", "  Screen   ", "    Open     ", " Position "}) TabStrip.addTab(caption);
  const char* const pageNames[] = {"Auto Slide", "Screen", "Open", "Position"};
  for (int i = 1; i <= 4; ++i) {
    fraTabStrip[i] = std::make_unique<kit::Frame>(f, "fraTabStrip", i, pageNames[i - 1]);
    fraTabStrip[i]->move(10, 400, 2076, 1488);
  }
  kit::Frame* page1 = fraTabStrip[1].get();
  place(lblMinute, page1, 120, 240, 600, 255);
  place(txtMinute, page1, 780, 200, 600, 315);
  place(udnMinute, page1, 1380, 200, 255, 315);
  place(lblSecond, page1, 120, 640, 600, 255);
  place(txtSecond, page1, 780, 600, 600, 315);
  place(udnSecond, page1, 1380, 600, 255, 315);
  place(chkRepeate, page1, 120, 1020, 1800, 315);
  txtMinute.setText("0");
  txtSecond.setText("0");
  chkRepeate.setValue(1);

  kit::Frame* page2 = fraTabStrip[2].get();
  place(chkBlankBack, page2, 120, 300, 1800, 315);
  place(chkNoBorder, page2, 120, 700, 1800, 315);
  kit::Frame* page3 = fraTabStrip[3].get();
  place(chkOpenSideway, page3, 120, 300, 1800, 315);
  place(chkOpenDownway, page3, 120, 700, 1800, 315);

  kit::Frame* page4 = fraTabStrip[4].get();
  const float columns[] = {516, 864, 1212}, rows[] = {432, 708, 984};
  for (int r = 0; r < 3; ++r)
    for (int col = 0; col < 3; ++col) {
      const int index = (r + 1) * 10 + col + 1;
      optImgPos[index] = std::make_unique<kit::OptionButton>(f, "optImgPos", index, "");
      place(*optImgPos[index], page4, columns[col], rows[r], 192, 192);
    }
  place(lblTop, page4, 744, 180, 600, 240);
  place(lblLeft, page4, 60, 708, 420, 240);
  place(lblRight, page4, 1464, 708, 540, 240);
  place(lblBottom, page4, 744, 1212, 600, 240);

  cmdBringToFront.move(4896, 612, 1368, 276);
  cmdSendBack.move(4896, 948, 1368, 276);
  cmdMinimise.move(4896, 1284, 1368, 276);
  cmdCloseAll.move(4896, 1620, 1368, 276);
  mnuPopOption.setVisible(false);
}

frmNavToolbar::frmNavToolbar() : kit::Form("frmNavToolbar") {
  design.borderStyle = kit::border::FixedToolWindow;
  design.left = 9000;
  design.top = 300;
  design.width = 7000;
  design.height = 3000;
  design.keyPreview = true;
  design.helpContextId = 15;
}

std::unique_ptr<kit::ControlSet> frmNavToolbar::createControls() {
  auto k = std::make_unique<Controls>(*this);
  k->Toolbar.onButtonClick = [this](kit::Toolbar::Button& b) { Toolbar_ButtonClick(b); };
  k->Toolbar.onButtonDropDown = [this](kit::Toolbar::Button& b) { Toolbar_ButtonDropDown(b); };
  k->cboImageName.onClick = [this] { cboImageName_Click(); };
  k->cboZoomRate.onClick = [this] { cboZoomRate_Click(); };
  k->cboZoomRate.onKeyPress = [this](int& key) { cboZoomRate_KeyPress(key); };
  k->TabStrip.onClick = [this] { TabStrip_Click(); };
  for (auto& [index, option] : k->optImgPos) option->onClick = [this](int i) { optImgPos_Click(i); };
  k->txtMinute.onChange = [this] { txtMinute_Change(); };
  k->txtSecond.onChange = [this] { txtSecond_Change(); };
  k->udnMinute.onMouseDown = [this](int, int, float, float) { udnMinute_MouseDown(); };
  k->udnSecond.onMouseDown = [this](int, int, float, float) { udnSecond_MouseDown(); };
  k->mnuPopOptionStartSlideshow.onClick = [this] { mnuPopOptionStartSlideshow_Click(); };
  k->tmrSlideShow.onTimer = [this] { tmrSlideShow_Timer(); };
  k->chkBlankBack.onClick = [this] { chkBlankBack_Click(); };
  k->chkNoBorder.onClick = [this] { chkNoBorder_Click(); };
  k->cmdBringToFront.onClick = [this] { cmdBringToFront_Click(); };
  k->cmdSendBack.onClick = [this] { cmdSendBack_Click(); };
  k->cmdMinimise.onClick = [this] { cmdMinimise_Click(); };
  k->cmdCloseAll.onClick = [this] { cmdCloseAll_Click(); };
  return k;
}

Application& frmNavToolbar::events() {
  if (!EventObject) throw RuntimeError(err::ObjectNotSet, "Object variable or With block variable not set");
  return *EventObject;
}

void frmNavToolbar::Form_Load() {
  Controls& k = c();
  ViewState& v = view();
  const double storedLeft = readStoredNumber("Left", left(), kFarthestPlace);
  const double storedTop = readStoredNumber("Top", top(), kFarthestPlace);

  const float SW = k.Toolbar.button(buttons::kSeparator).width;
  const float BH = k.Toolbar.rowHeight();
  const float buttonsWidth = collapsedWidth();
  move(num::toSingle(storedLeft), num::toSingle(storedTop), buttonsWidth, collapsedHeight());

  using namespace kit::win;
  SetWindowPos(hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
  SetWindowLongA(hwnd(), GWL_EXSTYLE, kit::ws::ExTopmost | kit::ws::ExToolWindow | kit::ws::ExWindowEdge);

  kit::Toolbar::Button& newWindow = k.Toolbar.button(buttons::kNewWindow);
  k.Toolbar.setButtonImage(newWindow, kit::image::kSameWindow);
  k.Toolbar.setButtonTag(newWindow, kit::image::kSameWindow);
  events().FireEventNewWin(false);

  v.bFillingList = true;
  fillZoomBox(buttonsWidth);

  kit::ComboBox& images = k.cboImageName;
  const kit::ComboBox& zoom = k.cboZoomRate;
  images.setLeft(zoom.left() + zoom.width() + SW);
  images.setTop(BH / 2 - images.height() / 2);
  images.clear();
  v.sImagePosition = "11";
  v.bFillingList = false;

  layOutPages();
  v.bCursorShown = true;
}

void frmNavToolbar::fillZoomBox(float left) {
  kit::ComboBox& zoom = c().cboZoomRate;
  zoom.setTop(c().Toolbar.rowHeight() / 2 - zoom.height() / 2);
  zoom.setLeft(left);
  zoom.clear();
  for (const char* entry : kZoomEntries) zoom.addItem(entry);
  zoom.setListIndex(0);

  const double rate = readStoredNumber("ZoomRate", 100, kHighestZoomRate);
  if (rate < 0) {
    zoom.setListIndex(0);
    zoom.setText(zoom.itemText(0));
    view().bFillingList = false;
  } else {
    zoom.setListIndex(-1);
    for (int i = 1; i < zoom.listCount(); ++i) {
      if (num::leadingNumber(zoom.itemText(i)) == rate) {
        zoom.setListIndex(i);
        break;
      }
    }
    zoom.setText(num::plainDecimal(rate) + "%");
  }
}

void frmNavToolbar::layOutPages() {
  Controls& k = c();
  const kit::ComboBox& images = k.cboImageName;
  k.TabStrip.move(0, k.Toolbar.height(), images.left() + images.width() + 200, k.TabStrip.height());
  for (auto& [index, page] : k.fraTabStrip) {
    page->setVisible(false);
    page->setBorderStyle(kit::border::None);
    page->setLeft(k.TabStrip.left() + 10);
    page->setTop(k.TabStrip.top() + 10);
  }
  k.fraTabStrip[1]->setVisible(true);
}

void frmNavToolbar::Form_KeyDown(int& KeyCode, int /*Shift*/) {
  if (KeyCode == kit::key::F1) ShowHelp(helpContextId());
  if (KeyCode == kit::key::Escape) c().tmrSlideShow.setTimerEnabled(false);
}

void frmNavToolbar::Form_QueryUnload(int& Cancel, int UnloadMode) {
  ResetPhotoWindows();
  if (frmBackGround* background = backGroundIfCreated()) background->unload(kit::unloadMode::Code);
  if (!view().bCursorShown) ShowMouseCursor(true);
  if (UnloadMode == kit::unloadMode::ControlMenu) {
    Cancel = 1;
    hide();
  }
}

void frmNavToolbar::Form_Unload(int& /*Cancel*/) {
  // The unload always completes; a store failure is handed to the caller after.
  unloadError_.reset();
  try {
    const std::string& app = view().sHostAppName;
    WriteSetting(app, kSection, "Left", num::plainDecimal(left()));
    WriteSetting(app, kSection, "Top", num::plainDecimal(top()));
    const kit::ComboBox& zoom = c().cboZoomRate;
    WriteSetting(app, kSection, "ZoomRate",
                 zoom.listIndex() == 0 ? "-1" : num::plainDecimal(num::leadingNumber(zoom.text())));
  } catch (const RuntimeError& e) {
    unloadError_ = e;
  }
}

std::optional<RuntimeError> frmNavToolbar::takeUnloadError() {
  auto e = std::move(unloadError_);
  unloadError_.reset();
  return e;
}

void frmNavToolbar::takeFocusBack() {
  if (visible()) setFocus();
}

void frmNavToolbar::setNewWindowMode(bool newWindow) {
  kit::Toolbar& bar = c().Toolbar;
  kit::Toolbar::Button& button = bar.button(buttons::kNewWindow);
  const std::string word = newWindow ? kit::image::kNewWindow : kit::image::kSameWindow;
  bar.setButtonTag(button, word);
  bar.setButtonImage(button, word);
  events().FireEventNewWin(newWindow);
}

}  // namespace korvena
