#include "apps/probe/driver.h"

#include <cctype>
#include <cstdlib>
#include <ostream>
#include <system_error>

#include "component/basView.h"
#include "kit/platform.h"
#include "korvena/Application.h"
#include "korvena/RuntimeError.h"
#include "store/registry_store.h"

namespace probe {

namespace fs = std::filesystem;

Driver::Driver(std::ostream& out, fs::path scriptDir) : out_(out), scriptDir_(std::move(scriptDir)) {
  std::string pattern = (fs::temp_directory_path() / "korvena-probe-XXXXXX").string();
  if (!mkdtemp(pattern.data()))
    throw std::system_error(errno, std::generic_category(), "cannot make a temporary folder");
  tempDir_ = pattern;
  korvena::reg::setDefaultFolder(tempDir_.string());
}

Driver::~Driver() {
  app_.reset();
  korvena::ResetComponent();
  korvena::reg::resetDefaultStore();
  std::error_code ignored;
  if (!tempDir_.empty()) fs::remove_all(tempDir_, ignored);
}

const std::map<std::string, Driver::Handler, std::less<>>& Driver::handlers() {
  static const std::map<std::string, Handler, std::less<>> table = {
      {"screen", &Driver::screen},
      {"registry", &Driver::registry},
      {"regset", &Driver::regset},
      {"dump", &Driver::dump},
      {"host", &Driver::host},
      {"call", &Driver::call},
      {"click", &Driver::click},
      {"dropdown", &Driver::dropdown},
      {"pick", &Driver::pick},
      {"settext", &Driver::settext},
      {"type", &Driver::type},
      {"updown", &Driver::updown},
      {"tab", &Driver::tab},
      {"keydown", &Driver::keydown},
      {"keypress", &Driver::keypress},
      {"activate", &Driver::activate},
      {"close", &Driver::close},
      {"rightclick", &Driver::rightclick},
      {"resize", &Driver::resize},
      {"minimize", &Driver::windowState},
      {"maximize", &Driver::windowState},
      {"restore", &Driver::windowState},
      {"scroll", &Driver::scroll},
      {"move", &Driver::move},
      {"advance", &Driver::advance},
  };
  return table;
}

void Driver::run(const Command& c) {
  auto it = handlers().find(c.word);
  if (it == handlers().end()) throw ScriptError(c.line, "not available yet");
  try {
    (this->*it->second)(c);
    takePlatformEvents();
  } catch (const korvena::RuntimeError& e) {
    takePlatformEvents();
    recordError(e.number(), e.description(), c);
  } catch (const korvena::reg::Error& e) {
    // The probe's own use of the store failed (a store file that does not
    // parse, a folder it may not write): the script cannot go on.
    throw ScriptError(c.line, e.what());
  }
  kit::platform().collectGarbage();
}

fs::path Driver::resolve(const std::string& path) const {
  fs::path p(path);
  return p.is_absolute() ? p : (scriptDir_ / p).lexically_normal();
}

void Driver::recordError(long number, const std::string& description, const Command& c) {
  Json event = Json::object();
  event["type"] = "error";
  event["number"] = number;
  event["description"] = description;
  event["during"] = c.source;
  events_.push(std::move(event));
}

// ---- Environment ----

void Driver::screen(const Command& c) {
  kit::platform().setScreenSize(static_cast<float>(c.numbers[0]), static_cast<float>(c.numbers[1]));
}

void Driver::registry(const Command& c) {
  fs::path dir = resolve(c.text);
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) throw ScriptError(c.line, "no such folder: " + dir.string());
  korvena::reg::setDefaultFolder(dir.string());
}

void Driver::regset(const Command& c) {
  using korvena::reg::Value;
  Value value = c.args[2] == "sz" ? Value::sz(c.text) : Value::dword(static_cast<uint32_t>(c.numbers[0]));
  korvena::reg::defaultStore().setValue(c.args[0], c.args[1], value);
}

// ---- Snapshot ----

void Driver::dump(const Command&) {
  out_ << snapshot().dump() << '\n';
  out_.flush();
}

Json Driver::snapshot() {
  const kit::Platform& p = kit::platform();
  const korvena::ViewState& v = korvena::view();
  takePlatformEvents();
  Json s = Json::object();
  Json& screen = s["screen"];
  screen["width"] = p.screenWidth();
  screen["height"] = p.screenHeight();
  s["CurrentIndex"] = v.CurrentIndex;
  if (v.FreeSlots.empty()) {
    s["FreeSlots"] = nullptr;
  } else {
    Json slots = Json::array();
    for (int16_t slot : v.FreeSlots) slots.push(slot);
    s["FreeSlots"] = std::move(slots);
  }
  s["bNewWindow"] = app_ ? app_->newWindowMode() : false;
  s["PhotoWindows"] = photoWindowsJson();
  s["toolbar"] = toolbarJson();
  s["sImagePosition"] = v.sImagePosition;
  s["background"] = backgroundJson();
  s["cursor"] = cursorJson();
  Json zorder = Json::array();
  for (const kit::Form* f : p.zOrder()) zorder.push(targetName(f));
  s["zorder"] = std::move(zorder);
  s["active"] = p.activeForm() ? Json(targetName(p.activeForm())) : Json(nullptr);
  s["events"] = std::move(events_);
  events_ = Json::array();
  s["registry"] = registryJson();
  return s;
}

Json Driver::cursorJson() const {
  const kit::Platform& p = kit::platform();
  Json cursor = Json::object();
  cursor["counter"] = p.cursorCounter();
  cursor["bCursorShown"] = korvena::view().bCursorShown;
  cursor["mousePointer"] = p.mousePointer();
  return cursor;
}

Json Driver::registryJson() const {
  using korvena::reg::Value;
  Json all = Json::object();
  std::vector<korvena::reg::Key> keys;
  try {
    keys = korvena::reg::defaultStore().keys();
  } catch (const korvena::reg::Error& e) {
    // A store that cannot be read is part of what a script checks.
    all["error"] = e.what();
    return all;
  }
  for (const korvena::reg::Key& key : keys) {
    Json& values = all[key.path];
    values = Json::object();  // a key with no values is still listed
    for (const auto& [name, value] : key.values) {
      Json& v = values[name];
      v["type"] = value.typeName();
      switch (value.kind) {
        case Value::Kind::Sz:
          v["value"] = value.data;
          break;
        case Value::Kind::Dword:
          v["value"] = value.number;
          break;
        case Value::Kind::Hex: {
          std::string digits;  // the bytes as hex digits, without separators
          for (char ch : value.data)
            if (std::isxdigit(static_cast<unsigned char>(ch)))
              digits += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
          v["value"] = digits;
          break;
        }
      }
    }
  }
  return all;
}

int runScript(std::istream& in, const fs::path& scriptDir, std::ostream& out, std::ostream& err) {
  ScriptReader reader(in);
  try {
    Driver driver(out, scriptDir);
    while (std::optional<Command> c = reader.next()) driver.run(*c);
  } catch (const ScriptError& e) {
    out.flush();
    err << e.message() << '\n';
    return 2;
  } catch (const std::exception& e) {
    // Anything else is a fault of the probe or the component: still a clear
    // message and a status, never a crash.
    out.flush();
    err << "line " << reader.lineNumber() << ": internal error: " << e.what() << '\n';
    return 2;
  }
  return 0;
}

}  // namespace probe
