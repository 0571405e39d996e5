#include "kit/controls.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "kit/numbers.h"
#include "kit/picture.h"
#include "korvena/RuntimeError.h"

namespace kit {

namespace {
[[noreturn]] void invalidValue() {
  throw korvena::RuntimeError(korvena::err::InvalidPropertyValue, "Invalid property value");
}

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// One key typed into `text` at the selection: Backspace removes the selection
// or the character before the caret, a printable character replaces the
// selection. The caret after it; nullopt for a key that types nothing.
std::optional<int> typeInto(std::string& text, int selStart, int selLength, int keyAscii) {
  auto start = static_cast<size_t>(std::clamp(selStart, 0, static_cast<int>(text.size())));
  auto length = static_cast<size_t>(std::clamp(selLength, 0, static_cast<int>(text.size() - start)));
  if (keyAscii == ascii::Backspace) {
    if (length > 0)
      text.erase(start, length);
    else if (start > 0)
      text.erase(--start, 1);
  } else if (keyAscii >= ascii::Space && keyAscii < 256) {
    text.replace(start, length, 1, static_cast<char>(keyAscii));
    ++start;
  } else {
    return std::nullopt;
  }
  return static_cast<int>(start);
}
}  // namespace

// ---- ImageControl ----

void ImageControl::setStretch(bool v) {
  stretch_ = v;
  changed();
}

void ImageControl::setPicture(std::shared_ptr<Picture> picture) {
  picture_ = std::move(picture);
  if (picture_ && !stretch_) move(left(), top(), picture_->widthTwips(), picture_->heightTwips());
  changed();
}

// ---- ScrollBar ----

ScrollBar::ScrollBar(Form& owner, std::string name, Orientation orientation)
    : Control(owner, std::move(name)), orientation_(orientation) {}

int ScrollBar::clamp(int v) const { return std::clamp(v, std::min(min_, max_), std::max(min_, max_)); }

void ScrollBar::setMin(int v) {
  min_ = v;
  setValue(value_);
}

void ScrollBar::setMax(int v) {
  max_ = v;
  changed();
  setValue(value_);
}

void ScrollBar::setValue(int v) {
  v = clamp(v);
  if (v == value_) return;
  value_ = v;
  changed();
  raise(onChange);
}

void ScrollBar::setSmallChange(int v) {
  if (v < 0) invalidValue();
  smallChange_ = v;
}

void ScrollBar::setLargeChange(int v) {
  if (v < 0) invalidValue();
  largeChange_ = v;
}

void ScrollBar::userScroll(int v) {
  v = clamp(v);
  const bool differs = v != value_;
  value_ = v;
  changed();
  raise(onScroll);
  if (differs) raise(onChange);
}

// ---- Timer ----

Timer::~Timer() { platform().clock().cancel(*this); }

void Timer::setTimerEnabled(bool v) {
  if (v == timerEnabled_) return;
  timerEnabled_ = v;
  reschedule();
}

void Timer::setInterval(long ms) {
  if (ms < 0 || ms > kMaxInterval) invalidValue();
  interval_ = ms;
  reschedule();
}

void Timer::reschedule() {
  if (timerEnabled_ && interval_ > 0)
    platform().clock().schedule(*this);
  else
    platform().clock().cancel(*this);
}

// ---- Menu ----

Menu::Menu(Form& owner, std::string name, std::string caption)
    : Control(owner, std::move(name)), caption_(std::move(caption)) {}

Menu& Menu::addItem(std::string name, std::string caption) {
  items_.push_back(std::make_unique<Menu>(form(), std::move(name), std::move(caption)));
  return *items_.back();
}

void Menu::userClick() {
  if (enabled()) raise(onClick);
}

// ---- ComboBox ----

ComboBox::ComboBox(Form& owner, std::string name, Style style) : Control(owner, std::move(name)), style_(style) {}

void ComboBox::checkIndex(int index) const {
  if (index < 0 || index >= listCount()) invalidValue();
}

int ComboBox::addItem(const std::string& text) {
  items_.push_back({text, 0});
  changed();
  return listCount() - 1;
}

void ComboBox::removeItem(int index) {
  checkIndex(index);
  items_.erase(items_.begin() + index);
  if (listIndex_ == index) {
    listIndex_ = -1;
    if (style_ == Style::List) text_.clear();
  } else if (listIndex_ > index) {
    --listIndex_;
  }
  changed();
}

void ComboBox::clear() {
  items_.clear();
  listIndex_ = -1;
  text_.clear();
  selStart_ = selLength_ = 0;
  changed();
}

const std::string& ComboBox::itemText(int index) const {
  checkIndex(index);
  return items_[static_cast<size_t>(index)].text;
}

void ComboBox::setItemText(int index, const std::string& text) {
  checkIndex(index);
  items_[static_cast<size_t>(index)].text = text;
  if (index == listIndex_) {
    text_ = text;
    selStart_ = static_cast<int>(text_.size());
    selLength_ = 0;
  }
  changed();
}

long ComboBox::itemData(int index) const {
  checkIndex(index);
  return items_[static_cast<size_t>(index)].data;
}

void ComboBox::setItemData(int index, long data) {
  checkIndex(index);
  items_[static_cast<size_t>(index)].data = data;
}

void ComboBox::setListIndex(int index) {
  if (index < -1 || index >= listCount()) invalidValue();
  listIndex_ = index;
  if (index >= 0) {
    text_ = items_[static_cast<size_t>(index)].text;
  } else if (style_ == Style::List) {
    text_.clear();
  }
  selStart_ = static_cast<int>(text_.size());
  selLength_ = 0;
  changed();
  if (index >= 0) raise(onClick);
}

void ComboBox::setText(const std::string& text) {
  text_ = text;
  selStart_ = static_cast<int>(text_.size());
  selLength_ = 0;
  listIndex_ = -1;
  for (int i = 0; i < listCount(); ++i)
    if (equalsIgnoringCase(items_[static_cast<size_t>(i)].text, text)) {
      listIndex_ = i;
      break;
    }
  changed();
}

void ComboBox::setSelStart(int v) {
  selStart_ = std::clamp(v, 0, static_cast<int>(text_.size()));
  selLength_ = std::min(selLength_, static_cast<int>(text_.size()) - selStart_);
  changed();
}

void ComboBox::setSelLength(int v) {
  selLength_ = std::clamp(v, 0, static_cast<int>(text_.size()) - selStart_);
  changed();
}

void ComboBox::userPick(int index) {
  checkIndex(index);
  setListIndex(index);
}

void ComboBox::userSetText(const std::string& text) {
  text_ = text;
  selStart_ = static_cast<int>(text_.size());
  selLength_ = 0;
  listIndex_ = -1;
  changed();
}

void ComboBox::userKeyPress(int keyAscii) {
  if (onKeyPress) raise(onKeyPress, keyAscii);
  if (keyAscii == ascii::None || style_ == Style::List) return;
  std::string typed = text_;
  const std::optional<int> caret = typeInto(typed, selStart_, selLength_, keyAscii);
  if (!caret) return;
  if (typed != text_) listIndex_ = -1;
  text_ = std::move(typed);
  selStart_ = *caret;
  selLength_ = 0;
  changed();
}

// ---- CheckBox ----

CheckBox::CheckBox(Form& owner, std::string name, std::string caption)
    : Control(owner, std::move(name)), caption_(std::move(caption)) {}

void CheckBox::setValue(int v) {
  if (v < 0 || v > 2) invalidValue();
  if (v == value_) return;
  value_ = v;
  changed();
  raise(onClick);
}

// ---- OptionButton ----

OptionButton::OptionButton(Form& owner, std::string name, int index, std::string caption)
    : Control(owner, std::move(name), index), caption_(std::move(caption)) {}

void OptionButton::setValue(bool v) {
  if (v == value_) return;
  value_ = v;
  if (v) {
    for (Control* c : form().controls()) {
      auto* other = dynamic_cast<OptionButton*>(c);
      if (other && other != this && other->name() == name()) other->value_ = false;
    }
  }
  changed();
  if (v) raise(onClick, index());
}

void OptionButton::userClick() {
  if (!enabled()) return;
  if (value_) {
    raise(onClick, index());
  } else {
    setValue(true);
  }
}

// ---- TextBox ----

void TextBox::setText(const std::string& text) {
  const bool differs = text != text_;
  text_ = text;
  selStart_ = static_cast<int>(text_.size());
  selLength_ = 0;
  changed();
  if (differs) raise(onChange);
}

void TextBox::userKeyPress(int keyAscii) {
  if (onKeyPress) raise(onKeyPress, keyAscii);
  if (keyAscii == ascii::None) return;
  std::string typed = text_;
  const std::optional<int> caret = typeInto(typed, selStart_, selLength_, keyAscii);
  if (!caret) return;
  setText(typed);
  // A Change handler may have rewritten the text; keep the caret inside it.
  selStart_ = std::min(*caret, static_cast<int>(text_.size()));
  selLength_ = 0;
}

// ---- UpDown ----

UpDown::UpDown(Form& owner, std::string name, TextBox& buddy, int min, int max, int increment)
    : Control(owner, std::move(name)), buddy_(buddy), min_(min), max_(max), increment_(increment) {}

void UpDown::userStep(bool up) {
  raise(onMouseDown, 1, 0, 0.0f, 0.0f);
  double v = korvena::num::leadingNumber(buddy_.text());
  v += up ? increment_ : -increment_;
  v = std::clamp(v, static_cast<double>(min_), static_cast<double>(max_));
  buddy_.setText(korvena::num::plainDecimal(v));
}

// ---- Frame, Label, CommandButton ----

Frame::Frame(Form& owner, std::string name, int index, std::string caption)
    : Control(owner, std::move(name), index), caption_(std::move(caption)) {}

void Frame::setBorderStyle(int v) {
  borderStyle_ = v;
  changed();
}

Label::Label(Form& owner, std::string name, std::string caption)
    : Control(owner, std::move(name)), caption_(std::move(caption)) {}

CommandButton::CommandButton(Form& owner, std::string name, std::string caption)
    : Control(owner, std::move(name)), caption_(std::move(caption)) {}

// ---- Toolbar ----

Toolbar::Button& Toolbar::addButton(const std::string& key, ButtonStyle style, const std::string& toolTip,
                                    const std::string& image, const std::string& tag) {
  Button b;
  b.key = key;
  b.style = style;
  b.toolTip = toolTip;
  b.image = image;
  b.tag = tag;
  b.width = style == ButtonStyle::Separator  ? kSeparatorWidth
            : style == ButtonStyle::DropDown ? kDropDownWidth
                                             : kNormalWidth;
  b.left = buttons_.empty() ? 0 : buttons_.back().left + buttons_.back().width;
  buttons_.push_back(b);
  move(left(), top(), width(), kRowHeight);
  return buttons_.back();
}

Toolbar::Button* Toolbar::findButton(const std::string& key) {
  for (auto& b : buttons_)
    if (b.key == key) return &b;
  return nullptr;
}

Toolbar::Button& Toolbar::button(const std::string& key) {
  if (Button* b = findButton(key)) return *b;
  throw korvena::RuntimeError(korvena::err::ElementNotFound, "Element not found");
}

void Toolbar::setButtonImage(Button& b, const std::string& image) {
  b.image = image;
  changed();
}

void Toolbar::setButtonTag(Button& b, const std::string& tag) { b.tag = tag; }

void Toolbar::setButtonEnabled(Button& b, bool enabled) {
  b.enabled = enabled;
  changed();
}

void Toolbar::userClick(const std::string& key) {
  Button* b = findButton(key);
  if (!b || !b->enabled || !enabled()) return;
  raise(onButtonClick, *b);
}

void Toolbar::userDropDown(const std::string& key) {
  Button* b = findButton(key);
  if (!b || !b->enabled || !enabled() || b->style != ButtonStyle::DropDown) return;
  raise(onButtonDropDown, *b);
}

// ---- TabStrip ----

void TabStrip::select(int index) {
  if (index < 1 || index > static_cast<int>(captions_.size())) invalidValue();
  selected_ = index;
  changed();
  raise(onClick);
}

}  // namespace kit
