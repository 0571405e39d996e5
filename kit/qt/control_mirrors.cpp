#include "kit/qt/control_mirrors.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyleOptionToolButton>
#include <QTabBar>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>
#include <optional>
#include <vector>

#include "kit/qt/button_icons.h"
#include "kit/qt/form_mirror.h"
#include "kit/qt/photo_widget.h"
#include "kit/qt/units.h"

namespace kit::qt {

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

// Characters a text control takes through the kit's key handling: Backspace,
// Enter and printable ASCII (other characters are edited natively and reach
// the kit as the edited text).
bool kitTypedKey(int code) {
  return code == ascii::Backspace || code == ascii::Enter || (code >= ascii::Space && code < ascii::Delete);
}

// ---- Toolbar ----

// A tool button with a drop-down arrow; the arrow's part of the button
// raises ButtonDropDown instead of ButtonClick.
class DropDownButton : public QToolButton {
 public:
  using QToolButton::QToolButton;
  QRect arrowRect() const {
    QStyleOptionToolButton option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_ToolButton, &option, QStyle::SC_ToolButtonMenu, this);
  }
};

class ToolbarMirror : public ControlMirror {
 public:
  ToolbarMirror(FormMirror& owner, Toolbar& bar, QWidget* parent)
      : ControlMirror(owner, bar, new QWidget(parent)), bar_(bar) {}

  void apply() override {
    const auto& buttons = bar_.buttons();
    const bool sameKeys = std::equal(buttons.begin(), buttons.end(), slots_.begin(), slots_.end(),
                                     [](const Toolbar::Button& b, const Slot& s) { return b.key == s.key; });
    if (!sameKeys) rebuild();
    const int height = widget_->height();
    for (size_t i = 0; i < slots_.size(); ++i) {
      const Toolbar::Button& b = buttons[i];
      QToolButton* button = slots_[i].button;
      if (!button) continue;
      const QRect rect(toPixels(b.left), 0, toPixels(b.width), height);
      if (button->geometry() != rect) button->setGeometry(rect);
      if (slots_[i].image != b.image) {
        slots_[i].image = b.image;
        button->setIcon(buttonIcon(b.image));
      }
      if (button->toolTip() != qs(b.toolTip)) button->setToolTip(qs(b.toolTip));
      if (button->testAttribute(Qt::WA_ForceDisabled) == b.enabled) button->setEnabled(b.enabled);
    }
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::MouseButtonPress) return false;
    auto* button = static_cast<DropDownButton*>(watched);
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton || !button->arrowRect().contains(mouse->position().toPoint())) return false;
    const std::string key = button->objectName().toStdString();
    user([this, key] { bar_.userDropDown(key); });
    return true;
  }

 private:
  struct Slot {
    std::string key;
    QToolButton* button = nullptr;     // none for a separator
    std::optional<std::string> image;  // the one shown
  };

  void rebuild() {
    // A handler of one of these buttons may be running: they go later.
    for (Slot& s : slots_)
      if (s.button) {
        s.button->hide();
        s.button->deleteLater();
      }
    slots_.clear();
    for (const Toolbar::Button& b : bar_.buttons()) {
      Slot slot{b.key, nullptr, std::nullopt};
      if (b.style != Toolbar::ButtonStyle::Separator) {
        QToolButton* button = nullptr;
        if (b.style == Toolbar::ButtonStyle::DropDown) {
          button = new DropDownButton(widget_);
          button->setPopupMode(QToolButton::MenuButtonPopup);
          button->installEventFilter(this);
        } else {
          button = new QToolButton(widget_);
        }
        button->setObjectName(qs(b.key));
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setIconSize(QSize(kButtonImageSize, kButtonImageSize));
        const std::string key = b.key;
        connect(button, &QToolButton::clicked, this, [this, key] { user([this, key] { bar_.userClick(key); }); });
        button->show();
        slot.button = button;
      }
      slots_.push_back(slot);
    }
  }

  Toolbar& bar_;
  std::vector<Slot> slots_;
};

// ---- Combo box ----

class ComboMirror : public ControlMirror {
 public:
  ComboMirror(FormMirror& owner, ComboBox& combo, QWidget* parent)
      : ControlMirror(owner, combo, new QComboBox(parent)), combo_(combo), box_(static_cast<QComboBox*>(widget())) {
    connect(box_, &QComboBox::activated, this, [this](int index) {
      user([this, index] {
        if (index >= 0 && index < combo_.listCount()) combo_.userPick(index);
      });
    });
    if (combo.style() != ComboBox::Style::Dropdown) return;
    box_->setEditable(true);
    box_->setInsertPolicy(QComboBox::NoInsert);
    box_->setCompleter(nullptr);
    QLineEdit* edit = box_->lineEdit();
    connect(edit, &QLineEdit::textEdited, this, [this, edit](const QString& text) {
      const std::string typed = text.toStdString();
      const int caret = byteOffset(text, edit->cursorPosition());
      user([this, typed, caret] {
        combo_.userSetText(typed);
        combo_.setSelStart(caret);
      });
    });
    // Keys reach the box (the focus widget) and, sent straight to it, the line edit.
    box_->installEventFilter(this);
    edit->installEventFilter(this);
  }

  bool editsText() const override { return combo_.style() == ComboBox::Style::Dropdown; }

  void apply() override {
    const auto& items = combo_.items();
    bool sameItems = box_->count() == static_cast<int>(items.size());
    for (int i = 0; sameItems && i < box_->count(); ++i) sameItems = box_->itemText(i) == qs(items[size_t(i)].text);
    if (!sameItems) {
      box_->clear();
      for (const auto& item : items) box_->addItem(qs(item.text));
      // The list is at least as wide as its longest entry.
      QAbstractItemView* list = box_->view();
      list->setMinimumWidth(list->sizeHintForColumn(0) + 2 * list->frameWidth() +
                            list->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    }
    bool textWritten = !sameItems;
    if (box_->currentIndex() != combo_.listIndex()) {
      box_->setCurrentIndex(combo_.listIndex());
      textWritten = true;
    }
    if (!editsText()) return;
    QLineEdit* edit = box_->lineEdit();
    const QString text = qs(combo_.text());
    if (edit->text() != text) {
      edit->setText(text);
      textWritten = true;
    }
    const std::pair<int, int> selection{combo_.selStart(), combo_.selLength()};
    if (textWritten || selection != appliedSelection_) {
      appliedSelection_ = selection;
      const int start = stringIndex(combo_.text(), selection.first);
      const int end = stringIndex(combo_.text(), selection.first + selection.second);
      if (end > start)
        edit->setSelection(start, end - start);
      else
        edit->setCursorPosition(start);
    }
  }

  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const int ascii = keyAscii(*static_cast<QKeyEvent*>(event));
    if (!kitTypedKey(ascii)) return false;
    // The kit edits its own text at its caret: tell it where the user's caret is.
    QLineEdit* edit = box_->lineEdit();
    const QString text = edit->text();
    const int start = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
    const int length = edit->hasSelectedText() ? static_cast<int>(edit->selectedText().size()) : 0;
    const int byteStart = byteOffset(text, start), byteEnd = byteOffset(text, start + length);
    user([this, ascii, byteStart, byteEnd] {
      combo_.setSelStart(byteStart);
      combo_.setSelLength(byteEnd - byteStart);
      combo_.userKeyPress(ascii);
    });
    return true;
  }

 private:
  ComboBox& combo_;
  QComboBox* box_;
  std::pair<int, int> appliedSelection_{-1, -1};
};

// ---- Text box and up-down ----

class TextMirror : public ControlMirror {
 public:
  TextMirror(FormMirror& owner, TextBox& box, QWidget* parent)
      : ControlMirror(owner, box, new QLineEdit(parent)), box_(box), edit_(static_cast<QLineEdit*>(widget())) {
    connect(edit_, &QLineEdit::textEdited, this, [this](const QString& text) {
      const std::string typed = text.toStdString();
      user([this, typed] { box_.userSetText(typed); });
    });
    edit_->installEventFilter(this);
  }

  bool editsText() const override { return true; }

  void apply() override {
    const QString text = qs(box_.text());
    if (edit_->text() == text) return;
    // A code write: caret at the end, nothing selected.
    edit_->setText(text);
  }

  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const int ascii = keyAscii(*static_cast<QKeyEvent*>(event));
    if (!kitTypedKey(ascii)) return false;
    // The kit types at the end of its text (it keeps no caret of the user's);
    // anywhere else the line edit edits and the kit takes the edited text.
    const bool atEnd = !edit_->hasSelectedText() && edit_->cursorPosition() == edit_->text().size();
    if (ascii != ascii::Enter && !atEnd) return false;
    user([this, ascii] { box_.userKeyPress(ascii); });
    return true;
  }

 private:
  TextBox& box_;
  QLineEdit* edit_;
};

// Two small arrow buttons, up above down.
class UpDownMirror : public ControlMirror {
 public:
  UpDownMirror(FormMirror& owner, UpDown& updown, QWidget* parent)
      : ControlMirror(owner, updown, new QWidget(parent)), updown_(updown) {
    for (bool up : {true, false}) {
      auto* button = new QToolButton(widget_);
      button->setArrowType(up ? Qt::UpArrow : Qt::DownArrow);
      button->setObjectName(up ? "up" : "down");
      button->setAutoRepeat(true);
      button->setFocusPolicy(Qt::NoFocus);
      connect(button, &QToolButton::clicked, this, [this, up] { user([this, up] { updown_.userStep(up); }); });
      (up ? up_ : down_) = button;
    }
  }

  void apply() override {
    const int w = widget_->width(), h = widget_->height(), half = h / 2;
    if (up_->geometry() != QRect(0, 0, w, half)) up_->setGeometry(0, 0, w, half);
    if (down_->geometry() != QRect(0, half, w, h - half)) down_->setGeometry(0, half, w, h - half);
  }

 private:
  UpDown& updown_;
  QToolButton* up_ = nullptr;
  QToolButton* down_ = nullptr;
};

// ---- Buttons ----

class CheckMirror : public ControlMirror {
 public:
  CheckMirror(FormMirror& owner, CheckBox& check, QWidget* parent)
      : ControlMirror(owner, check, new QCheckBox(QString::fromStdString(check.caption()), parent)),
        check_(check),
        box_(static_cast<QCheckBox*>(widget())) {
    connect(box_, &QCheckBox::clicked, this, [this] { user([this] { check_.userClick(); }); });
  }

  void apply() override {
    const Qt::CheckState state = check_.value() == 0   ? Qt::Unchecked
                                 : check_.value() == 1 ? Qt::Checked
                                                       : Qt::PartiallyChecked;
    if (box_->checkState() != state) box_->setCheckState(state);
  }

 private:
  CheckBox& check_;
  QCheckBox* box_;
};

class OptionMirror : public ControlMirror {
 public:
  OptionMirror(FormMirror& owner, OptionButton& option, QWidget* parent)
      : ControlMirror(owner, option, new QRadioButton(parent)),
        option_(option),
        radio_(static_cast<QRadioButton*>(widget())) {
    // The kit clears the other buttons of the array.
    radio_->setAutoExclusive(false);
    connect(radio_, &QRadioButton::clicked, this, [this] { user([this] { option_.userClick(); }); });
  }

  void apply() override {
    if (radio_->isChecked() != option_.value()) radio_->setChecked(option_.value());
  }

 private:
  OptionButton& option_;
  QRadioButton* radio_;
};

class CommandMirror : public ControlMirror {
 public:
  CommandMirror(FormMirror& owner, CommandButton& command, QWidget* parent)
      : ControlMirror(owner, command, new QPushButton(QString::fromStdString(command.caption()), parent)) {
    connect(static_cast<QPushButton*>(widget()), &QPushButton::clicked, this,
            [this, &command] { user([&command] { command.userClick(); }); });
  }
};

// ---- Frame, label, tab strip ----

// A group box that draws nothing at border style 0.
class FrameBox : public QGroupBox {
 public:
  using QGroupBox::QGroupBox;
  bool borderless = false;

 protected:
  void paintEvent(QPaintEvent* event) override {
    if (!borderless) QGroupBox::paintEvent(event);
  }
};

class FrameMirror : public ControlMirror {
 public:
  FrameMirror(FormMirror& owner, Frame& frame, QWidget* parent)
      : ControlMirror(owner, frame, new FrameBox(parent)), frame_(frame) {}

  void apply() override {
    auto* box = static_cast<FrameBox*>(widget());
    const bool borderless = frame_.borderStyle() == border::None;
    const QString title = borderless ? QString() : qs(frame_.caption());
    if (box->borderless != borderless || box->title() != title) {
      box->borderless = borderless;
      box->setTitle(title);
      box->update();
    }
  }

 private:
  Frame& frame_;
};

class TabStripMirror : public ControlMirror {
 public:
  TabStripMirror(FormMirror& owner, TabStrip& strip, QWidget* parent)
      : ControlMirror(owner, strip, new QWidget(parent)), strip_(strip) {
    tabs_ = new QTabBar(widget_);
    tabs_->setObjectName("tabs");
    tabs_->setDrawBase(false);
    tabs_->setExpanding(false);  // tabs as wide as their captions, as the layout expects
    tabs_->setFocusPolicy(Qt::NoFocus);
    page_ = new QFrame(widget_);
    page_->setObjectName("page");
    page_->setFrameShape(QFrame::StyledPanel);
    connect(tabs_, &QTabBar::tabBarClicked, this, [this](int index) {
      if (index >= 0) user([this, index] { strip_.userSelect(index + 1); });
    });
  }

  // The pages' area starts below the row of tabs.
  QWidget* clientArea() const override { return page_; }

  void apply() override {
    const auto& captions = strip_.captions();
    bool same = tabs_->count() == static_cast<int>(captions.size());
    for (int i = 0; same && i < tabs_->count(); ++i) same = tabs_->tabText(i) == qs(captions[size_t(i)]);
    if (!same) {
      while (tabs_->count() > 0) tabs_->removeTab(0);
      for (const auto& caption : captions) tabs_->addTab(qs(caption));
    }
    if (tabs_->currentIndex() != strip_.selectedIndex() - 1) tabs_->setCurrentIndex(strip_.selectedIndex() - 1);
    const int w = widget_->width(), h = widget_->height();
    const int row = std::min(h, tabs_->sizeHint().height());
    if (tabs_->geometry() != QRect(0, 0, w, row)) tabs_->setGeometry(0, 0, w, row);
    if (page_->geometry() != QRect(0, row, w, h - row)) page_->setGeometry(0, row, w, h - row);
  }

 private:
  TabStrip& strip_;
  QTabBar* tabs_ = nullptr;
  QFrame* page_ = nullptr;
};

// ---- Scroll bar, picture box, image ----

class ScrollMirror : public ControlMirror {
 public:
  ScrollMirror(FormMirror& owner, ScrollBar& bar, QWidget* parent)
      : ControlMirror(
            owner, bar,
            new QScrollBar(bar.orientation() == ScrollBar::Orientation::Horizontal ? Qt::Horizontal : Qt::Vertical,
                           parent)),
        bar_(bar),
        scroll_(static_cast<QScrollBar*>(widget())) {
    connect(scroll_, &QScrollBar::actionTriggered, this, [this](int action) {
      if (action == QAbstractSlider::SliderNoAction) return;
      const int position = scroll_->sliderPosition();
      user([this, position] { bar_.userScroll(position); });
    });
    connect(scroll_, &QScrollBar::sliderPressed, this, [this] { owner_.setFastPaint(true); });
    connect(scroll_, &QScrollBar::sliderReleased, this, [this] { owner_.setFastPaint(false); });
  }

  void apply() override {
    // The kit allows Min above Max: the bar then runs the other way.
    const int low = std::min(bar_.min(), bar_.max()), high = std::max(bar_.min(), bar_.max());
    if (scroll_->minimum() != low || scroll_->maximum() != high) scroll_->setRange(low, high);
    const bool inverted = bar_.min() > bar_.max();
    if (scroll_->invertedAppearance() != inverted) {
      scroll_->setInvertedAppearance(inverted);
      scroll_->setInvertedControls(inverted);
    }
    if (scroll_->singleStep() != bar_.smallChange()) scroll_->setSingleStep(bar_.smallChange());
    if (scroll_->pageStep() != bar_.largeChange()) scroll_->setPageStep(bar_.largeChange());
    if (scroll_->value() != bar_.value()) scroll_->setValue(bar_.value());
  }

 private:
  ScrollBar& bar_;
  QScrollBar* scroll_;
};

// Mouse releases on a widget, in twips of the widget.
class MouseUpFilter : public ControlMirror {
 public:
  using ControlMirror::ControlMirror;

  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    // Taking the press makes the release come to this widget.
    if (event->type() == QEvent::MouseButtonPress) return true;
    if (event->type() != QEvent::MouseButtonRelease) return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    const int button = mouseButton(mouse->button());
    if (button == mouse::None) return true;
    const int shift = shiftState(mouse->modifiers());
    const QPointF at = mouse->position() * kTwipsPerPixel;
    user([this, button, shift, at] { mouseUp(button, shift, static_cast<float>(at.x()), static_cast<float>(at.y())); });
    return true;
  }

 protected:
  virtual void mouseUp(int button, int shift, float x, float y) = 0;
};

class PictureBoxMirror : public MouseUpFilter {
 public:
  PictureBoxMirror(FormMirror& owner, PictureBox& box, QWidget* parent)
      : MouseUpFilter(owner, box, new QWidget(parent)), box_(box) {
    widget_->installEventFilter(this);
  }

  // The wheel over the box, or over a picture in it (the picture leaves it
  // to its parent). A sideways wheel is Shift with the wheel.
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Wheel) return MouseUpFilter::eventFilter(watched, event);
    auto* wheel = static_cast<QWheelEvent*>(event);
    const QPoint turn = wheel->angleDelta();
    int shift = shiftState(wheel->modifiers());
    int delta = turn.y();
    if (delta == 0) {
      delta = turn.x();
      shift |= shift::Shift;
    }
    if (delta != 0) user([this, delta, shift] { box_.userMouseWheel(delta, shift); });
    return true;
  }

 protected:
  void mouseUp(int button, int shift, float x, float y) override { raise(box_.onMouseUp, button, shift, x, y); }

 private:
  PictureBox& box_;
};

class ImageMirror : public MouseUpFilter {
 public:
  ImageMirror(FormMirror& owner, ImageControl& image, QWidget* parent)
      : MouseUpFilter(owner, image, new PhotoWidget(parent)), image_(image) {
    widget_->installEventFilter(this);
  }

  void apply() override { static_cast<PhotoWidget*>(widget())->setPicture(image_.picture()); }
  void setFastPaint(bool fast) override { static_cast<PhotoWidget*>(widget())->setFast(fast); }

 protected:
  void mouseUp(int button, int shift, float x, float y) override { image_.userMouseUp(button, shift, x, y); }

 private:
  ImageControl& image_;
};

class LabelMirror : public ControlMirror {
 public:
  LabelMirror(FormMirror& owner, Label& label, QWidget* parent)
      : ControlMirror(owner, label, new QLabel(QString::fromStdString(label.caption()), parent)) {}
};

template <class Kit, class Mirror>
std::unique_ptr<ControlMirror> tryMake(FormMirror& owner, Control& control, QWidget* parent) {
  if (auto* typed = dynamic_cast<Kit*>(&control)) return std::make_unique<Mirror>(owner, *typed, parent);
  return nullptr;
}

}  // namespace

// ---- ControlMirror ----

ControlMirror::ControlMirror(FormMirror& owner, Control& control, QWidget* widget)
    : owner_(owner), control_(control), widget_(widget) {
  widget_->setObjectName(QString::fromStdString(control.fullName()));
}

ControlMirror::~ControlMirror() {
  if (widget_) widget_->deleteLater();
}

void ControlMirror::place(QWidget* parent, const QRect& rect) {
  if (widget_->parentWidget() != parent) widget_->setParent(parent);
  if (widget_->geometry() != rect) widget_->setGeometry(rect);
  if (widget_->isHidden() == control_.visible()) widget_->setVisible(control_.visible());
  // Disabled on its own account, not through a disabled container.
  if (widget_->testAttribute(Qt::WA_ForceDisabled) == control_.enabled()) widget_->setEnabled(control_.enabled());
  const QString tip = QString::fromStdString(control_.toolTip());
  if (widget_->toolTip() != tip) widget_->setToolTip(tip);
  followSight();
}

void ControlMirror::followSight() {
  const bool seen = control_.seen();
  if (seen == focusable_) return;
  focusable_ = seen;
  // The widget and its parts (a combo box's line edit) take focus as they
  // were made to while the user can see them, and not at all otherwise.
  QList<QWidget*> parts = widget_->findChildren<QWidget*>();
  parts.prepend(widget_);
  for (QWidget* part : parts) {
    if (!seen) {
      if (part->focusPolicy() == Qt::NoFocus) continue;
      policies_[part] = part->focusPolicy();
      part->setFocusPolicy(Qt::NoFocus);
    } else if (auto it = policies_.find(part); it != policies_.end()) {
      part->setFocusPolicy(it->second);
    }
  }
  if (seen) policies_.clear();
  QWidget* focus = QApplication::focusWidget();
  if (!seen && focus && (focus == widget_ || widget_->isAncestorOf(focus))) focus->clearFocus();
}

void ControlMirror::user(const std::function<void()>& action) { owner_.dispatch(action); }

std::unique_ptr<ControlMirror> makeControlMirror(FormMirror& owner, Control& control, QWidget* parent) {
  using Maker = std::unique_ptr<ControlMirror> (*)(FormMirror&, Control&, QWidget*);
  static const Maker makers[] = {
      tryMake<Toolbar, ToolbarMirror>,       tryMake<ComboBox, ComboMirror>,        tryMake<TextBox, TextMirror>,
      tryMake<UpDown, UpDownMirror>,         tryMake<CheckBox, CheckMirror>,        tryMake<OptionButton, OptionMirror>,
      tryMake<CommandButton, CommandMirror>, tryMake<Frame, FrameMirror>,           tryMake<TabStrip, TabStripMirror>,
      tryMake<ScrollBar, ScrollMirror>,      tryMake<PictureBox, PictureBoxMirror>, tryMake<ImageControl, ImageMirror>,
      tryMake<Label, LabelMirror>,
  };
  for (Maker make : makers)
    if (auto mirror = make(owner, control, parent)) return mirror;
  return nullptr;
}

}  // namespace kit::qt
