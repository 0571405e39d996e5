#pragma once
// The component's one public class. A host creates it, gives it its name and
// style word, shows the toolbar and opens images; the component asks the host
// for the first, previous, next or last image through the ThumbNav event.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "korvena/Export.h"
#include "korvena/RuntimeError.h"

namespace korvena {

// Move directions of ThumbNav.
enum MoveDirection : uint8_t { MoveFirst = 1, MovePrevious = 2, MoveNext = 3, MoveLast = 4 };

// Receives the component's events. bFirstLast is in and out: the host sets it
// to true when the move reached the end of its list.
class ApplicationEvents {
 public:
  virtual ~ApplicationEvents() = default;
  virtual void ThumbNav(uint8_t MoveDirection, bool& bFirstLast) = 0;
};

class KORVENA_API Application {
 public:
  Application();
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  void ShowForm();
  bool FireEventThumbNav(uint8_t MoveDirection);
  void FireEventNewWin(bool bVal);
  void UnloadForm();
  // The optional argument: std::nullopt when the host leaves it out.
  void Style(const std::optional<std::string>& Style = std::nullopt);
  void srcAppName(const std::string& sAppName);
  void OpenImage(const std::string& FolderFile, const std::string& FileName);

  // Where ThumbNav goes: a sink object, or a plain callback. Both may be set;
  // the sink is called first. A sink is not owned.
  void setEventSink(ApplicationEvents* sink) { sink_ = sink; }
  void setThumbNavHandler(std::function<void(uint8_t, bool&)> handler) { handler_ = std::move(handler); }
  bool hasEventHandler() const { return sink_ != nullptr || static_cast<bool>(handler_); }

  bool newWindowMode() const { return bNewWindow; }
  // Told of every change request of the window mode (the toolbar's included).
  void setNewWindowObserver(std::function<void(bool)> observer) { newWinObserver_ = std::move(observer); }

 private:
  bool bNewWindow = false;
  ApplicationEvents* sink_ = nullptr;
  std::function<void(uint8_t, bool&)> handler_;
  std::function<void(bool)> newWinObserver_;
};

}  // namespace korvena
