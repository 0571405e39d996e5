#pragma once
// Forms: top-level windows with twips geometry, style words, window state,
// load and unload, show and hide, activation, focus and z-order.
#include <memory>
#include <string>
#include <vector>

#include "kit/platform.h"
#include "kit/platform_numbers.h"

namespace kit {

class Form;
class Menu;

// Base of every control: a name (and index in a control array), geometry in
// twips, visibility, enabled state and a tag.
class Control {
 public:
  Control(Form& owner, std::string name, int index = -1);
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  Form& form() const { return owner_; }
  const std::string& name() const { return name_; }
  int index() const { return index_; }
  std::string fullName() const;  // "name" or "name(index)"

  float left() const { return left_; }
  float top() const { return top_; }
  float width() const { return width_; }
  float height() const { return height_; }
  void setLeft(float v) { move(v, top_, width_, height_); }
  void setTop(float v) { move(left_, v, width_, height_); }
  void setWidth(float v) { move(left_, top_, v, height_); }
  void setHeight(float v) { move(left_, top_, width_, v); }
  virtual void move(float left, float top, float width, float height);

  bool visible() const { return visible_; }
  void setVisible(bool v);
  bool enabled() const { return enabled_; }
  void setEnabled(bool v);
  const std::string& tag() const { return tag_; }
  void setTag(const std::string& v);
  const std::string& toolTip() const { return toolTip_; }
  void setToolTip(const std::string& v) { toolTip_ = v; }

  // The control this one sits in (a frame or picture box), or none: its
  // position is relative to that container's client area.
  Control* container() const { return container_; }
  void setContainer(Control* container) { container_ = container; }

  // Keyboard focus: activates the form (error 5 when the form is hidden).
  // The focus never rests on a control the user cannot see: one that is
  // clipped away gets none, and loses what it had once clipped or hidden.
  void setFocus();
  bool hasFocus() const;
  // Whether the user can see any of the control: it and its containers are
  // visible, in a shown form, and not wholly outside a container's area or
  // the form's client area.
  bool seen() const;

  // Key events from the user; the form sees them first when it has key preview.
  std::function<void(int& keyCode, int shift)> onKeyDown;
  std::function<void(int& keyAscii)> onKeyPress;

 protected:
  void changed();

 private:
  Form& owner_;
  std::string name_;
  int index_;
  float left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = true;
  bool enabled_ = true;
  std::string tag_;
  std::string toolTip_;
  Control* container_ = nullptr;
};

// Error 380 for a size no window or control can take (negative or not a number).
void checkSize(float width, float height);

// What a form's controls are held in: created at load, dropped at unload.
struct ControlSet {
  virtual ~ControlSet() = default;
};

class Form {
 public:
  explicit Form(std::string name);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  const std::string& name() const { return name_; }

  // Load and unload. unload() runs QueryUnload then Unload and destroys the
  // window; the object stays and can be loaded again. Returns whether the
  // form is unloaded afterwards. unloadMode::ControlMenu is the user's close box.
  bool loaded() const { return loaded_; }
  void load();
  bool unload(int unloadMode = unloadMode::Code);

  // Show, hide, activation, z-order.
  bool visible() const { return visible_; }
  void show();
  void hide();
  void setFocus();       // activates; error 5 when hidden
  void zOrder(int pos);  // zorder::Front of its band or zorder::Back
  bool active() const;
  bool topmost() const { return topmost_; }
  void setTopmost(bool v);
  // Show without taking activation (a window-positioning call asked for it).
  void showWithoutActivating();

  // Geometry in twips (outer), client size derived from the frame.
  float left() const { return left_; }
  float top() const { return top_; }
  float width() const { return width_; }
  float height() const { return height_; }
  // Code moves and sizes a minimised or maximised window where it goes back
  // to: the window keeps its state and the size it has in it.
  void setLeft(float v) { move(v, placed().top, placed().width, placed().height); }
  void setTop(float v) { move(placed().left, v, placed().width, placed().height); }
  void setWidth(float v) { move(placed().left, placed().top, v, placed().height); }
  void setHeight(float v) { move(placed().left, placed().top, placed().width, v); }
  void move(float left, float top);
  void move(float left, float top, float width, float height);
  float scaleWidth() const;
  float scaleHeight() const;
  float frameWidth() const;   // outer minus client width
  float frameHeight() const;  // outer minus client height

  // Border style code (0 none, 2 sizable, 4 fixed tool window, ...), fixed at
  // design; the style words start from it and may be changed afterwards.
  int borderStyle() const { return borderStyle_; }
  long style() const { return style_; }
  long exStyle() const { return exStyle_; }
  void setStyle(long v);
  void setExStyle(long v);
  bool framed() const { return (style_ & ws::Caption) == ws::Caption; }

  // Window state: windowState::Normal, Minimized or Maximized.
  int windowState() const { return windowState_; }
  void setWindowState(int state);

  const std::string& tag() const { return tag_; }
  void setTag(const std::string& v);
  const std::string& caption() const { return caption_; }
  void setCaption(const std::string& v);
  bool keyPreview() const { return keyPreview_; }
  long helpContextId() const { return helpContextId_; }

  // The window handle: non-zero while loaded.
  long hwnd() const { return hwnd_; }

  // Pop-up menu at a point of the client area (twips).
  void popupMenu(Menu& menu, float x, float y);

  // Controls of this form, for lookups by name.
  const std::vector<Control*>& controls() const { return controls_; }
  Control* findControl(const std::string& name, int index = -1) const;
  Control* focusedControl() const { return focused_; }

  // The user's actions (probe and Qt view).
  void userClose() { unload(unloadMode::ControlMenu); }
  void userActivate();
  void userResize(float width, float height);
  void userMove(float left, float top);
  void userKeyDown(int keyCode, int shift = 0);
  void userKeyPress(int keyAscii);

  // Looks up a loaded form's controls without loading it.
  ControlSet* controlSetIfLoaded() const { return controls_set_.get(); }

 protected:
  // Design values, set by the derived class's constructor.
  struct Design {
    float left = 0, top = 0, width = 4800, height = 3600;
    int borderStyle = border::Sizable;
    std::string caption;
    bool keyPreview = false;
    long helpContextId = 0;
  };
  Design design;

  virtual std::unique_ptr<ControlSet> createControls() { return std::make_unique<ControlSet>(); }
  ControlSet& controlSet() {
    load();
    return *controls_set_;
  }

  virtual void Form_Load() {}
  virtual void Form_Activate() {}
  virtual void Form_Resize() {}
  virtual void Form_KeyDown(int& /*keyCode*/, int /*shift*/) {}
  virtual void Form_KeyPress(int& /*keyAscii*/) {}
  virtual void Form_QueryUnload(int& /*cancel*/, int /*unloadMode*/) {}
  virtual void Form_Unload(int& /*cancel*/) {}

 private:
  friend class Control;
  friend class Platform;
  void registerControl(Control* control);
  void unregisterControl(Control* control);
  void setFocusedControl(Control* control) { focused_ = control; }
  void applyGeometry(float left, float top, float width, float height, bool raiseResize);
  static long styleFor(int borderStyle);
  static long exStyleFor(int borderStyle);

  std::string name_;
  bool loaded_ = false;
  bool visible_ = false;
  bool topmost_ = false;
  float left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  float restoreLeft_ = 0, restoreTop_ = 0, restoreWidth_ = 0, restoreHeight_ = 0;
  struct Placement {
    float left, top, width, height;
  };
  // The normal window's place: the current one, or the one it goes back to.
  Placement placed() const {
    return windowState_ == windowState::Normal ? Placement{left_, top_, width_, height_}
                                               : Placement{restoreLeft_, restoreTop_, restoreWidth_, restoreHeight_};
  }
  int borderStyle_ = border::Sizable;
  long style_ = 0;
  long exStyle_ = 0;
  int windowState_ = windowState::Normal;
  std::string tag_;
  std::string caption_;
  bool keyPreview_ = false;
  long helpContextId_ = 0;
  long hwnd_ = 0;
  std::vector<Control*> controls_;
  Control* focused_ = nullptr;
  std::shared_ptr<ControlSet> controls_set_;
};

// The forms collection: is a loaded form of this name there? (exact name)
bool isFormLoaded(const std::string& name);

}  // namespace kit
