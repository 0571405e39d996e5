#pragma once
// korvena-view's side of the component: it names itself, shows the toolbar,
// applies the start-up options, opens the first picture of its list and
// answers ThumbNav (first, previous, next, last) from that list.
// Header-only, so the tests drive the same code on the headless platform.
#include <QFileInfo>
#include <QString>

#include "apps/view/options.h"
#include "apps/view/photo_list.h"
#include "apps/view/toolbar_actions.h"
#include "korvena/Application.h"
#include "photo/frmPhoto.h"

namespace korvena::host {

inline constexpr const char* kAppName = "korvena-view";

class ViewerHost {
 public:
  // The list must not be empty; both must outlive the host.
  ViewerHost(Application& app, PhotoList& list) : app_(app), list_(list) {
    app_.setThumbNavHandler([this](uint8_t direction, bool& bFirstLast) {
      if (auto index = list_.move(direction, bFirstLast)) open(*index);
    });
  }
  ViewerHost(const ViewerHost&) = delete;
  ViewerHost& operator=(const ViewerHost&) = delete;

  // The start, in the order a user would do it: the toolbar comes up, its
  // options are set, then the first picture opens (so a blank background
  // is already behind it) and a slideshow starts from it.
  void start(const Options& options) {
    app_.srcAppName(kAppName);
    app_.Style(std::string("pbMDILoading"));
    app_.ShowForm();
    if (options.newWindow) SwitchToNewWindowMode();
    if (options.blankScreen) CheckBlankScreen();
    if (options.details) ExpandDetails();
    open(list_.current());
    if (options.slideshowSeconds) StartSlideshow(*options.slideshowSeconds);
  }

  // Opens a picture of the list: the full path for the component, the file
  // name for its image list and captions.
  // The path goes as the file system's bytes; the name as text.
  // Then the neighbours decode ahead while the user looks: the next one
  // (after the last, the first, where a repeating slideshow goes) and the
  // previous one.
  void open(qsizetype index) {
    const QByteArray& path = list_.paths().at(index);
    app_.OpenImage(path.toStdString(), QFileInfo(list_.files().at(index)).fileName().toStdString());
    if (!prefetchNeighbours || list_.size() < 2) return;
    PrefetchPhoto(list_.paths().at((index + 1) % list_.size()).toStdString());
    if (index > 0) PrefetchPhoto(list_.paths().at(index - 1).toStdString());
  }

  // Off only to measure what walking the list costs without it.
  bool prefetchNeighbours = true;

 private:
  Application& app_;
  PhotoList& list_;
};

}  // namespace korvena::host
