// The slideshow: a timer asks the host for the next image once per interval,
// with the toolbar and the cursor hidden, and starts again from the first
// image or stops when the host reports the end of its list.
#include <cmath>

#include "component/basView.h"
#include "kit/numbers.h"
#include "korvena/Application.h"
#include "support/basWindow.h"
#include "support/frmBackGround.h"
#include "toolbar/frmNavToolbar.h"

namespace korvena {

namespace {
constexpr long kMinute = 60000;

// Seconds as a timer interval: whole milliseconds, halves to even; nullopt
// when the timer cannot run it.
std::optional<long> secondsInterval(double seconds) {
  const double ms = std::nearbyint(seconds * 1000);
  if (!(ms >= 1 && ms <= kit::Timer::kMaxInterval)) return std::nullopt;
  return static_cast<long>(ms);
}

// A number box always holds the plain text of its number.
void normaliseNumberBox(kit::TextBox& box) { box.setText(num::plainDecimal(num::leadingNumber(box.text()))); }
}  // namespace

void frmNavToolbar::txtMinute_Change() { normaliseNumberBox(c().txtMinute); }
void frmNavToolbar::txtSecond_Change() { normaliseNumberBox(c().txtSecond); }
void frmNavToolbar::udnMinute_MouseDown() {
  if (visible()) c().txtMinute.setFocus();
}
void frmNavToolbar::udnSecond_MouseDown() {
  if (visible()) c().txtSecond.setFocus();
}

void frmNavToolbar::mnuPopOptionStartSlideshow_Click() {
  Controls& k = c();
  const double M = num::leadingNumber(k.txtMinute.text());
  const double S = num::leadingNumber(k.txtSecond.text());
  if (M == 0 && S == 0) {
    kit::platform().msgBox("You must set slidshow time interval", "Slidwshow", kit::msgbox::Information);
    return;
  }
  // Refuse what the timer cannot run before anything changes.
  if (M < 0 || S < 0 || (S > 0 && !secondsInterval(S))) {
    kit::platform().msgBox("Minutes must be 0 or more, and seconds 0 or from 0.001 to 65.535", "Slidwshow",
                           kit::msgbox::Information);
    return;
  }
  ToggleDetails(true);
  if (k.Toolbar.button(buttons::kNewWindow).tag != kit::image::kSameWindow) setNewWindowMode(false);
  if (k.chkBlankBack.value() != 0) BackGround().show();
  setTag(kAutoslide);
  hide();
  if (view().CurrentIndex == 0) events().FireEventThumbNav(MoveFirst);
  if (M > 0) {
    k.txtMinute.setTag(num::plainDecimal(M));
    k.tmrSlideShow.setInterval(kMinute);
  } else {
    // No minutes: a countdown left by an earlier show must not delay this one.
    k.txtMinute.setTag("");
    k.tmrSlideShow.setInterval(*secondsInterval(S));
  }
  k.tmrSlideShow.setTimerEnabled(true);
  ShowMouseCursor(false);
}

bool frmNavToolbar::countDownMinute() {
  Controls& k = c();
  double countdown = num::leadingNumber(k.txtMinute.tag());
  if (countdown <= 0) return false;
  countdown -= 1;
  k.txtMinute.setTag(num::plainDecimal(countdown));
  if (countdown > 0) return true;
  const double S = num::leadingNumber(k.txtSecond.text());
  if (S > 0) {
    if (auto interval = secondsInterval(S)) {
      kit::Timer& timer = k.tmrSlideShow;
      timer.setTimerEnabled(false);
      timer.setInterval(*interval);
      timer.setTimerEnabled(true);
      return true;
    }
  }
  return false;
}

void frmNavToolbar::tmrSlideShow_Timer() {
  if (countDownMinute()) return;
  Controls& k = c();
  kit::Timer& timer = k.tmrSlideShow;
  kit::Toolbar& bar = k.Toolbar;
  kit::Toolbar::Button& next = bar.button(buttons::kMoveNext);
  if (next.enabled) {
    if (events().FireEventThumbNav(MoveNext)) bar.setButtonEnabled(bar.button(buttons::kMoveNext), false);
  } else {
    bar.setButtonEnabled(next, true);
    if (k.chkRepeate.value() == 0) {
      timer.setTimerEnabled(false);
      setTag("");
      show();
      ShowMouseCursor(true);
      return;
    }
    events().FireEventThumbNav(MoveFirst);
  }

  const double M = num::leadingNumber(c().txtMinute.text());
  if (M > 0) {
    Controls& after = c();
    after.txtMinute.setTag(num::plainDecimal(M));
    after.tmrSlideShow.setTimerEnabled(false);
    after.tmrSlideShow.setInterval(kMinute);
    after.tmrSlideShow.setTimerEnabled(true);
  }
}

}  // namespace korvena
