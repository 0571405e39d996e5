#pragma once
// The state every window of the component shares: the table of photo
// windows and their slots, the current window, the list-filling flag, the
// host's name and style, the position code and the cursor flag. The toolbar
// and the background window are single instances made on first use.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace korvena {

class frmPhoto;
class frmNavToolbar;
class frmBackGround;

struct ViewState {
  // Index 0 is never used; the upper bound is the highest slot handed out.
  // Empty: never created.
  std::vector<std::unique_ptr<frmPhoto>> PhotoWindows;
  bool photoWindowsCreated = false;
  // Element 0 unused; element 1 the highest slot so far; then freed slots,
  // the last freed at the end. Empty: never created.
  std::vector<int16_t> FreeSlots;
  int16_t CurrentIndex = 0;
  bool bFillingList = false;
  std::string sViewStyle;
  std::string sHostAppName;
  std::string sImagePosition;
  bool bCursorShown = false;
};

ViewState& view();

// Upper bounds as the component reads them (0 for a table never created).
int photoWindowsUpperBound();
int freeSlotsUpperBound();
// The photo window of a slot, or null when the slot holds none.
frmPhoto* photoWindow(int slot);
// The photo window of a slot when it is loaded, else null.
frmPhoto* loadedPhotoWindow(int slot);

// Visits the loaded photo windows in slot order (closed slots are skipped).
void ForEachLoadedPhotoWindow(const std::function<void(frmPhoto&)>& action);

frmNavToolbar& NavToolbar();
frmBackGround& BackGround();
// The single instances if they were ever created (no creation).
frmNavToolbar* navToolbarIfCreated();
frmBackGround* backGroundIfCreated();

// Chooses the slot for an image to open: returns the slot, and whether the
// image needs a new image-list entry.
struct SlotChoice {
  int16_t slot;
  bool newEntry;
};
SlotChoice ChooseSlot(bool bNewWindow);

// Gives a closed window's slot back and makes the first listed window current.
void RemovePhotoWindow(int16_t slot);

// Unloads every photo window and empties the table: the next image opens in slot 1.
void ResetPhotoWindows();

// Back to a component never used (tests and the probe between runs).
void ResetComponent();

}  // namespace korvena
