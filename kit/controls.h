#pragma once
// The controls the component's windows are made of. Events are raised
// synchronously, on the calling thread, before the setter returns.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kit/form.h"

namespace kit {

class Picture;

// A container that clips its children (the photo window's view).
class PictureBox : public Control {
 public:
  using Control::Control;
  std::function<void(int button, int shift, float x, float y)> onMouseUp;
  // The mouse wheel over the box or what it holds: delta in 120ths of a
  // notch, positive away from the user; a sideways wheel comes with Shift.
  std::function<void(int delta, int shift)> onMouseWheel;
  void userMouseWheel(int delta, int shift) { raise(onMouseWheel, delta, shift); }
};

// An image control: shows a picture, stretched to its own size or, when not
// stretching, taking the picture's natural size.
class ImageControl : public Control {
 public:
  using Control::Control;
  bool stretch() const { return stretch_; }
  void setStretch(bool v);
  const std::shared_ptr<Picture>& picture() const { return picture_; }
  void setPicture(std::shared_ptr<Picture> picture);
  std::function<void(int button, int shift, float x, float y)> onMouseUp;
  void userMouseUp(int button, int shift, float x, float y) { raise(onMouseUp, button, shift, x, y); }

 private:
  bool stretch_ = false;
  std::shared_ptr<Picture> picture_;
};

// A scroll bar with a 16-bit range; the value always stays within Min..Max.
class ScrollBar : public Control {
 public:
  static constexpr int kMaxValue = INT16_MAX;  // the default Max, and the most a setting can be
  enum class Orientation { Horizontal, Vertical };
  ScrollBar(Form& owner, std::string name, Orientation orientation);
  Orientation orientation() const { return orientation_; }
  int min() const { return min_; }
  int max() const { return max_; }
  int value() const { return value_; }
  int smallChange() const { return smallChange_; }
  int largeChange() const { return largeChange_; }
  void setMin(int v);
  void setMax(int v);
  void setValue(int v);  // Change when it differs
  void setSmallChange(int v);
  void setLargeChange(int v);
  std::function<void()> onScroll;
  std::function<void()> onChange;
  // The user drags the thumb to a value: Scroll, then Change if it changed.
  void userScroll(int v);

 private:
  int clamp(int v) const;
  Orientation orientation_;
  int min_ = 0, max_ = kMaxValue, value_ = 0, smallChange_ = 1, largeChange_ = 1;
};

// A timer on the platform clock. Interval 0 to kMaxInterval ms (error 380
// outside); an enabled timer with interval 0 never fires.
class Timer : public Control {
 public:
  static constexpr long kMaxInterval = UINT16_MAX;
  using Control::Control;
  ~Timer() override;
  bool timerEnabled() const { return timerEnabled_; }
  void setTimerEnabled(bool v);
  long interval() const { return interval_; }
  void setInterval(long ms);
  std::function<void()> onTimer;
  void tick() { raise(onTimer); }

 private:
  void reschedule();
  bool timerEnabled_ = false;
  long interval_ = 0;
};

// A menu or menu item. A top-level menu holds items and can pop up.
class Menu : public Control {
 public:
  Menu(Form& owner, std::string name, std::string caption);
  const std::string& caption() const { return caption_; }
  void setCaption(const std::string& v) { caption_ = v; }
  Menu& addItem(std::string name, std::string caption);
  const std::deque<std::unique_ptr<Menu>>& items() const { return items_; }
  std::function<void()> onClick;
  void userClick();

 private:
  std::string caption_;
  std::deque<std::unique_ptr<Menu>> items_;
};

// A combo box: style Dropdown has an editable text field, List only picks.
class ComboBox : public Control {
 public:
  enum class Style { Dropdown, List };
  struct Item {
    std::string text;
    long data = 0;
  };
  ComboBox(Form& owner, std::string name, Style style);
  Style style() const { return style_; }
  const std::vector<Item>& items() const { return items_; }
  int listCount() const { return static_cast<int>(items_.size()); }
  int addItem(const std::string& text);  // the index it was placed at
  void removeItem(int index);
  void clear();
  const std::string& itemText(int index) const;
  void setItemText(int index, const std::string& text);
  long itemData(int index) const;
  void setItemData(int index, long data);
  int listIndex() const { return listIndex_; }
  void setListIndex(int index);  // the entry's text becomes the text; Click
  const std::string& text() const { return text_; }
  // A code write: caret at the end, nothing selected, and the entry whose
  // text matches exactly (ignoring case) selected without a Click.
  void setText(const std::string& text);
  int selStart() const { return selStart_; }
  int selLength() const { return selLength_; }
  void setSelStart(int v);
  void setSelLength(int v);
  std::function<void()> onClick;

  // The user's actions.
  void userPick(int index);
  void userSetText(const std::string& text);
  void userKeyPress(int keyAscii);

 private:
  void checkIndex(int index) const;
  Style style_;
  std::vector<Item> items_;
  int listIndex_ = -1;
  std::string text_;
  int selStart_ = 0, selLength_ = 0;
};

// A check box: 0 unchecked, 1 checked, 2 greyed; Click when the value changes.
class CheckBox : public Control {
 public:
  CheckBox(Form& owner, std::string name, std::string caption);
  const std::string& caption() const { return caption_; }
  int value() const { return value_; }
  void setValue(int v);
  std::function<void()> onClick;
  void userClick() { setValue(value_ == 0 ? 1 : 0); }

 private:
  std::string caption_;
  int value_ = 0;
};

// One option button of a control array; selecting one clears the others of
// the same array.
class OptionButton : public Control {
 public:
  OptionButton(Form& owner, std::string name, int index, std::string caption);
  const std::string& caption() const { return caption_; }
  bool value() const { return value_; }
  void setValue(bool v);  // Click when it becomes selected
  std::function<void(int index)> onClick;
  void userClick();

 private:
  std::string caption_;
  bool value_ = false;
};

// A text box: Change when the text changes; a code write leaves the caret at
// the end with nothing selected.
class TextBox : public Control {
 public:
  using Control::Control;
  const std::string& text() const { return text_; }
  void setText(const std::string& text);
  int selStart() const { return selStart_; }
  int selLength() const { return selLength_; }
  std::function<void()> onChange;
  void userSetText(const std::string& text) { setText(text); }
  void userKeyPress(int keyAscii);

 private:
  std::string text_;
  int selStart_ = 0, selLength_ = 0;
};

// An up-down bound to a text box: a step writes the box's numeric value plus
// or minus the increment, kept within the range, into the box.
class UpDown : public Control {
 public:
  UpDown(Form& owner, std::string name, TextBox& buddy, int min, int max, int increment = 1);
  TextBox& buddy() const { return buddy_; }
  int min() const { return min_; }
  int max() const { return max_; }
  int increment() const { return increment_; }
  std::function<void(int button, int shift, float x, float y)> onMouseDown;
  void userStep(bool up);

 private:
  TextBox& buddy_;
  int min_, max_, increment_;
};

class Frame : public Control {
 public:
  Frame(Form& owner, std::string name, int index, std::string caption);
  const std::string& caption() const { return caption_; }
  int borderStyle() const { return borderStyle_; }
  void setBorderStyle(int v);

 private:
  std::string caption_;
  int borderStyle_ = border::FixedSingle;
};

class Label : public Control {
 public:
  Label(Form& owner, std::string name, std::string caption);
  const std::string& caption() const { return caption_; }

 private:
  std::string caption_;
};

class CommandButton : public Control {
 public:
  CommandButton(Form& owner, std::string name, std::string caption);
  const std::string& caption() const { return caption_; }
  std::function<void()> onClick;
  void userClick() {
    if (enabled()) raise(onClick);
  }

 private:
  std::string caption_;
};

// A toolbar with keyed buttons laid out from the left, one row high.
class Toolbar : public Control {
 public:
  enum class ButtonStyle { Normal = 0, Separator = 3, DropDown = 5 };
  struct Button {
    std::string key;
    ButtonStyle style = ButtonStyle::Normal;
    std::string toolTip;
    std::string image;
    std::string tag;
    bool enabled = true;
    float left = 0;
    float width = 0;
  };
  // Headless metrics, in twips.
  static constexpr float kNormalWidth = 390, kDropDownWidth = 585, kSeparatorWidth = 120, kRowHeight = 390;

  using Control::Control;
  Button& addButton(const std::string& key, ButtonStyle style, const std::string& toolTip, const std::string& image,
                    const std::string& tag = "");
  Button& button(const std::string& key);
  Button* findButton(const std::string& key);
  const std::deque<Button>& buttons() const { return buttons_; }
  void setButtonImage(Button& b, const std::string& image);
  void setButtonTag(Button& b, const std::string& tag);
  void setButtonEnabled(Button& b, bool enabled);
  float rowHeight() const { return kRowHeight; }
  std::function<void(Button&)> onButtonClick;
  std::function<void(Button&)> onButtonDropDown;
  void userClick(const std::string& key);
  void userDropDown(const std::string& key);

 private:
  std::deque<Button> buttons_;
};

class ImageList : public Control {
 public:
  using Control::Control;
  int imageWidth = 24, imageHeight = 24;
  long maskColor = 0xC0C0C0;
  std::vector<std::string> keys;
};

// A tab strip; tabs are numbered from 1.
class TabStrip : public Control {
 public:
  using Control::Control;
  void addTab(const std::string& caption) { captions_.push_back(caption); }
  const std::vector<std::string>& captions() const { return captions_; }
  int selectedIndex() const { return selected_; }
  void select(int index);  // Click
  std::function<void()> onClick;
  void userSelect(int index) { select(index); }

 private:
  std::vector<std::string> captions_;
  int selected_ = 1;
};

}  // namespace kit
