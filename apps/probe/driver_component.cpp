// The probe's host, its calls on the Application object, the user's actions
// and the snapshot of the component's windows.
#include <algorithm>

#include "apps/probe/driver.h"
#include "component/basView.h"
#include "kit/controls.h"
#include "korvena/Application.h"
#include "korvena/RuntimeError.h"
#include "photo/frmPhoto.h"
#include "support/frmBackGround.h"
#include "toolbar/frmNavToolbar.h"

namespace probe {

namespace fs = std::filesystem;

namespace {
template <class T>
T& as(kit::Control& control, const ControlRef& ref, int line) {
  auto* typed = dynamic_cast<T*>(&control);
  if (!typed) throw ScriptError(line, ref.str() + " cannot take this action");
  return *typed;
}

Json scrollBarJson(const kit::ScrollBar& bar) {
  Json j = Json::object();
  j["enabled"] = bar.enabled();
  j["visible"] = bar.visible();
  j["left"] = bar.left();
  j["top"] = bar.top();
  j["width"] = bar.width();
  j["height"] = bar.height();
  j["max"] = bar.max();
  j["value"] = bar.value();
  j["smallChange"] = bar.smallChange();
  return j;
}

Json timerJson(const kit::Timer& timer) {
  Json j = Json::object();
  j["enabled"] = timer.timerEnabled();
  j["interval"] = timer.interval();
  return j;
}
}  // namespace

// ---- The host ----

korvena::Application& Driver::app() {
  if (!app_) {
    app_ = std::make_unique<korvena::Application>();
    app_->setNewWindowObserver([this](bool value) {
      if (callingNewWin_) return;
      takePlatformEvents();
      Json event = Json::object();
      event["type"] = "FireEventNewWin";
      event["value"] = value;
      events_.push(std::move(event));
    });
  }
  return *app_;
}

void Driver::host(const Command& c) {
  korvena::Application& a = app();
  if (c.member == "list") {
    hostMode_ = HostMode::List;
    hostFiles_.clear();
    for (const std::string& file : c.args) hostFiles_.push_back(resolve(file));
    current_ = -1;
  } else if (c.member == "ignore") {
    hostMode_ = HostMode::Ignore;
  } else if (c.member == "none") {
    hostMode_ = HostMode::None;
  } else {
    hostMode_ = HostMode::Throw;
    throwNumber_ = static_cast<long>(c.numbers[0]);
    throwText_ = c.text;
  }
  if (hostMode_ == HostMode::None)
    a.setThumbNavHandler(nullptr);
  else
    a.setThumbNavHandler([this](uint8_t direction, bool& bFirstLast) { onThumbNav(direction, bFirstLast); });
}

void Driver::openListed(size_t index) {
  current_ = static_cast<long>(index);
  const fs::path& file = hostFiles_[index];
  app().OpenImage(file.string(), file.filename().string());
}

long Driver::listStep(uint8_t direction, bool& bFirstLast) const {
  const long last = static_cast<long>(hostFiles_.size()) - 1;
  long next = -1;
  switch (direction) {
    case korvena::MoveFirst:
      next = 0;
      bFirstLast = true;
      break;
    case korvena::MoveLast:
      next = last;
      bFirstLast = true;
      break;
    case korvena::MoveNext:
      if (current_ < 0)
        next = 0;
      else if (current_ < last)
        next = current_ + 1;
      else
        bFirstLast = true;
      if (next >= 0) bFirstLast = next == last;
      break;
    case korvena::MovePrevious:
      if (current_ < 0)
        next = last;
      else if (current_ > 0)
        next = current_ - 1;
      else
        bFirstLast = true;
      if (next >= 0) bFirstLast = next == 0;
      break;
    default:
      break;
  }
  return next;
}

void Driver::onThumbNav(uint8_t direction, bool& bFirstLast) {
  takePlatformEvents();
  // The event keeps its place before whatever the host's answer causes.
  const size_t slot = events_.size();
  events_.push(Json::object());
  Json opened = nullptr;
  auto finish = [&] {
    Json event = Json::object();
    event["type"] = "ThumbNav";
    event["dir"] = direction;
    event["bFirstLast"] = bFirstLast;
    event["opened"] = opened;
    events_.at(slot) = std::move(event);
  };
  if (hostMode_ == HostMode::Throw) {
    finish();
    throw korvena::RuntimeError(throwNumber_, throwText_);
  }
  if (hostMode_ == HostMode::List && !hostFiles_.empty()) {
    const long next = listStep(direction, bFirstLast);
    if (next >= 0) {
      opened = hostFiles_[static_cast<size_t>(next)].filename().string();
      try {
        openListed(static_cast<size_t>(next));
      } catch (...) {
        finish();
        throw;
      }
    }
  }
  finish();
}

void Driver::call(const Command& c) {
  korvena::Application& a = app();
  Json result = nullptr;
  const std::string& m = c.member;
  if (m == "srcAppName") {
    a.srcAppName(c.args.at(0));
  } else if (m == "Style") {
    a.Style(c.args.empty() ? std::nullopt : std::optional<std::string>(c.args[0]));
  } else if (m == "ShowForm") {
    a.ShowForm();
  } else if (m == "OpenImage") {
    const fs::path file = resolve(c.args.at(0));
    auto listed = std::find(hostFiles_.begin(), hostFiles_.end(), file);
    if (listed != hostFiles_.end()) current_ = listed - hostFiles_.begin();
    a.OpenImage(file.string(), c.args.at(1));
  } else if (m == "FireEventNewWin") {
    callingNewWin_ = true;
    a.FireEventNewWin(c.flag);
    callingNewWin_ = false;
  } else if (m == "FireEventThumbNav") {
    result = a.FireEventThumbNav(static_cast<uint8_t>(c.numbers.at(0)));
  } else if (m == "UnloadForm") {
    a.UnloadForm();
  }
  takePlatformEvents();
  Json event = Json::object();
  event["type"] = "call";
  event["member"] = m;
  event["result"] = std::move(result);
  events_.push(std::move(event));
}

// ---- Targets and controls ----

kit::Form& Driver::form(const Target& target, int line) {
  switch (target.kind) {
    case Target::Kind::Toolbar:
      return korvena::NavToolbar();
    case Target::Kind::Background:
      return korvena::BackGround();
    case Target::Kind::Photo:
      if (korvena::frmPhoto* w = korvena::loadedPhotoWindow(target.slot)) return *w;
      throw ScriptError(line, target.str() + " does not exist");
  }
  throw ScriptError(line, "no such window");
}

kit::Control& Driver::control(const ControlRef& ref, int line) {
  kit::Form& f = form(ref.target, line);
  f.load();  // a control of the toolbar is there whether or not it is shown
  const std::string name = ref.key.empty() ? ref.name : "Toolbar";
  kit::Control* found = f.findControl(name, ref.index.value_or(-1));
  if (!found) throw ScriptError(line, "no control " + ref.str());
  return *found;
}

std::string Driver::targetName(const kit::Form* f) const {
  if (f == korvena::navToolbarIfCreated()) return "toolbar";
  if (f == korvena::backGroundIfCreated()) return "background";
  const int ub = korvena::photoWindowsUpperBound();
  for (int slot = 1; slot <= ub; ++slot)
    if (korvena::photoWindow(slot) == f) return "photo:" + std::to_string(slot);
  return f ? f->name() : "";
}

void Driver::takePlatformEvents() {
  for (const kit::PlatformEvent& e : kit::platform().takeEvents()) {
    Json event = Json::object();
    switch (e.kind) {
      case kit::PlatformEvent::Kind::MessageBox:
        event["type"] = "msgbox";
        event["text"] = e.text;
        event["title"] = e.title;
        event["flags"] = e.flags;
        break;
      case kit::PlatformEvent::Kind::Help:
        event["type"] = "help";
        event["file"] = e.file;
        event["command"] = e.command;
        event["context"] = e.context;
        break;
      case kit::PlatformEvent::Kind::Popup:
        event["type"] = "popup";
        event["target"] = targetName(e.target);
        event["menu"] = e.menu;
        break;
    }
    events_.push(std::move(event));
  }
}

// ---- The user's actions ----

void Driver::click(const Command& c) {
  kit::Control& k = control(c.control, c.line);
  if (!c.control.key.empty()) {
    auto& bar = as<kit::Toolbar>(k, c.control, c.line);
    if (!bar.findButton(c.control.key)) throw ScriptError(c.line, "no button " + c.control.key);
    bar.userClick(c.control.key);
  } else if (auto* button = dynamic_cast<kit::CommandButton*>(&k)) {
    button->userClick();
  } else if (auto* check = dynamic_cast<kit::CheckBox*>(&k)) {
    check->userClick();
  } else if (auto* option = dynamic_cast<kit::OptionButton*>(&k)) {
    option->userClick();
  } else {
    as<kit::Menu>(k, c.control, c.line).userClick();
  }
}

void Driver::dropdown(const Command& c) {
  auto& bar = as<kit::Toolbar>(control(c.control, c.line), c.control, c.line);
  if (!bar.findButton(c.control.key)) throw ScriptError(c.line, "no button " + c.control.key);
  bar.userDropDown(c.control.key);
}

void Driver::pick(const Command& c) {
  as<kit::ComboBox>(control(c.control, c.line), c.control, c.line).userPick(static_cast<int>(c.numbers.at(0)));
}

void Driver::settext(const Command& c) {
  kit::Control& k = control(c.control, c.line);
  if (auto* combo = dynamic_cast<kit::ComboBox*>(&k))
    combo->userSetText(c.text);
  else
    as<kit::TextBox>(k, c.control, c.line).userSetText(c.text);
}

void Driver::type(const Command& c) {
  kit::Control& k = control(c.control, c.line);
  auto* combo = dynamic_cast<kit::ComboBox*>(&k);
  auto* box = combo ? nullptr : &as<kit::TextBox>(k, c.control, c.line);
  for (unsigned char ch : c.text) {
    if (combo)
      combo->userKeyPress(ch);
    else
      box->userKeyPress(ch);
    kit::platform().collectGarbage();
  }
}

void Driver::updown(const Command& c) {
  kit::Control& k = control(c.control, c.line);
  kit::UpDown* upDown = dynamic_cast<kit::UpDown*>(&k);
  if (!upDown) {
    // The bound text box named instead of its up-down.
    for (kit::Control* other : k.form().controls())
      if (auto* u = dynamic_cast<kit::UpDown*>(other); u && &u->buddy() == &k) upDown = u;
  }
  if (!upDown) throw ScriptError(c.line, c.control.str() + " has no up-down");
  upDown->userStep(c.flag);
}

void Driver::tab(const Command& c) { korvena::NavToolbar().c().TabStrip.userSelect(static_cast<int>(c.numbers.at(0))); }

void Driver::keydown(const Command& c) { form(c.target, c.line).userKeyDown(static_cast<int>(c.numbers.at(0)), 0); }
void Driver::keypress(const Command& c) { form(c.target, c.line).userKeyPress(static_cast<int>(c.numbers.at(0))); }
void Driver::activate(const Command& c) { form(c.target, c.line).userActivate(); }
void Driver::close(const Command& c) { form(c.target, c.line).userClose(); }

void Driver::rightclick(const Command& c) {
  auto& w = static_cast<korvena::frmPhoto&>(form(c.target, c.line));
  w.userRightClick(static_cast<float>(c.numbers.at(0)), static_cast<float>(c.numbers.at(1)));
}

void Driver::resize(const Command& c) {
  form(c.target, c.line).userResize(static_cast<float>(c.numbers.at(0)), static_cast<float>(c.numbers.at(1)));
}

void Driver::windowState(const Command& c) {
  const int state = c.word == "minimize"   ? kit::windowState::Minimized
                    : c.word == "maximize" ? kit::windowState::Maximized
                                           : kit::windowState::Normal;
  form(c.target, c.line).setWindowState(state);
}

void Driver::scroll(const Command& c) {
  auto& w = static_cast<korvena::frmPhoto&>(form(c.target, c.line));
  kit::ScrollBar& bar = c.flag ? w.c().VScroll : w.c().HScroll;
  bar.userScroll(static_cast<int>(c.numbers.at(0)));
}

void Driver::move(const Command& c) {
  form(c.target, c.line).userMove(static_cast<float>(c.numbers.at(0)), static_cast<float>(c.numbers.at(1)));
}

void Driver::advance(const Command& c) {
  if (kit::VirtualClock* clock = kit::platform().virtualClock()) clock->advance(c.numbers.at(0));
}

// ---- Snapshot ----

Json Driver::photoWindowsJson() const {
  Json all = Json::array();
  const int ub = korvena::photoWindowsUpperBound();
  for (int slot = 1; slot <= ub; ++slot) {
    const korvena::frmPhoto* w = korvena::photoWindow(slot);
    if (!w) {
      all.push(nullptr);
      continue;
    }
    Json j = Json::object();
    j["slot"] = slot;
    j["loaded"] = w->loaded();
    j["visible"] = w->visible();
    j["tag"] = w->tag();
    j["caption"] = w->caption();
    j["left"] = w->left();
    j["top"] = w->top();
    j["width"] = w->width();
    j["height"] = w->height();
    j["clientWidth"] = w->scaleWidth();
    j["clientHeight"] = w->scaleHeight();
    j["framed"] = w->framed();
    j["windowState"] = w->windowState();
    j["ZoomPercent"] = w->ZoomPercent;
    j["ResizeGuard"] = w->ResizeGuard;
    j["PictureWidth"] = w->PictureWidth;
    j["PictureHeight"] = w->PictureHeight;
    if (const auto* k = w->peek()) {
      Json& form = j["picForm"];
      form["width"] = k->picForm.width();
      form["height"] = k->picForm.height();
      Json& photo = j["picPhoto"];
      photo["left"] = k->picPhoto.left();
      photo["top"] = k->picPhoto.top();
      photo["width"] = k->picPhoto.width();
      photo["height"] = k->picPhoto.height();
      j["VScroll"] = scrollBarJson(k->VScroll);
      j["HScroll"] = scrollBarJson(k->HScroll);
      j["tmrOpen"] = timerJson(k->tmrOpen);
    } else {
      for (auto field : {"picForm", "picPhoto", "VScroll", "HScroll", "tmrOpen"}) j[field] = nullptr;
    }
    all.push(std::move(j));
  }
  return all;
}

Json Driver::toolbarJson() const {
  Json j = Json::object();
  const korvena::frmNavToolbar* t = korvena::navToolbarIfCreated();
  const auto* k = t ? t->peek() : nullptr;
  j["loaded"] = k != nullptr;
  j["visible"] = t && t->visible();
  if (!k) return j;
  j["tag"] = t->tag();
  j["left"] = t->left();
  j["top"] = t->top();
  j["width"] = t->width();
  j["height"] = t->height();
  j["exStyle"] = t->exStyle();
  j["topmost"] = t->topmost();
  for (const auto& b : k->Toolbar.buttons())
    if (b.key == korvena::buttons::kDetails) j["details"] = b.image;
  j["page"] = k->TabStrip.selectedIndex();
  Json& zoom = j["cboZoomRate"];
  zoom["text"] = k->cboZoomRate.text();
  zoom["index"] = k->cboZoomRate.listIndex();
  zoom["selStart"] = k->cboZoomRate.selStart();
  zoom["selLength"] = k->cboZoomRate.selLength();
  Json& images = j["cboImageName"];
  Json items = Json::array();
  for (const auto& item : k->cboImageName.items()) {
    Json entry = Json::object();
    entry["text"] = item.text;
    entry["data"] = item.data;
    items.push(std::move(entry));
  }
  images["items"] = std::move(items);
  images["index"] = k->cboImageName.listIndex();
  Json& buttons = j["buttons"];
  buttons = Json::object();
  for (const auto& b : k->Toolbar.buttons()) {
    Json& button = buttons[b.key];
    button["enabled"] = b.enabled;
    button["image"] = b.image;
    button["tag"] = b.tag;
  }
  j["chkNoBorder"] = k->chkNoBorder.value();
  j["chkBlankBack"] = k->chkBlankBack.value();
  j["chkOpenSideway"] = k->chkOpenSideway.value();
  j["chkOpenDownway"] = k->chkOpenDownway.value();
  j["chkRepeate"] = k->chkRepeate.value();
  Json& minute = j["txtMinute"];
  minute["text"] = k->txtMinute.text();
  minute["tag"] = k->txtMinute.tag();
  j["txtSecond"]["text"] = k->txtSecond.text();
  j["tmrSlideShow"] = timerJson(k->tmrSlideShow);
  return j;
}

Json Driver::backgroundJson() const {
  Json j = Json::object();
  const korvena::frmBackGround* b = korvena::backGroundIfCreated();
  const bool loaded = b && b->loaded();
  j["loaded"] = loaded;
  j["visible"] = loaded && b->visible();
  j["left"] = loaded ? Json(b->left()) : Json(nullptr);
  j["top"] = loaded ? Json(b->top()) : Json(nullptr);
  j["width"] = loaded ? Json(b->width()) : Json(nullptr);
  j["height"] = loaded ? Json(b->height()) : Json(nullptr);
  return j;
}

}  // namespace probe
