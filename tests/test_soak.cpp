// A long run: a slideshow over 500 pictures on the virtual clock, with photo
// windows opened and closed between its stretches. The heap in use must stay
// flat once the run has warmed up, and (under LeakSanitizer) nothing leaks.
#include <malloc.h>

#include "component_fixture.h"
#include "fuzz/component_invariants.h"

#if defined(__SANITIZE_ADDRESS__)
#define KORVENA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVENA_ASAN 1
#endif
#endif

#ifdef KORVENA_ASAN
extern "C" size_t __sanitizer_get_current_allocated_bytes();  // from the sanitizer runtime
extern "C" int __lsan_do_recoverable_leak_check();
size_t heapInUse() { return __sanitizer_get_current_allocated_bytes(); }
#else
size_t heapInUse() { return mallinfo2().uordblks; }
#endif

namespace {

using Soak = fixture::ComponentTest;

TEST_F(Soak, SlideshowOverFiveHundredPicturesWithWindowsInBetween) {
  constexpr int kPictures = 500, kStretch = 50;
  for (int i = 0; i < kPictures; ++i)
    host.files.push_back(
        picture("p" + std::to_string(i) + ".png", 8 + i % 17, 6 + i % 11, QColor::fromHsv(i % 360, 200, 200)));
  start();
  bar().txtSecond.setText("2");
  bar().chkRepeate.setValue(0);

  size_t warmedUp = 0;
  int shown = 0;
  for (int stretch = 0; stretch < kPictures / kStretch; ++stretch) {
    SCOPED_TRACE(stretch);
    // A stretch of the show, a picture every 2 s; the first start asks for the first picture itself.
    bar().mnuPopOptionStartSlideshow.userClick();
    ASSERT_EQ(toolbar().tag(), "Autoslide");
    if (stretch == 0) ++shown;
    while (shown < (stretch + 1) * kStretch) {
      advance(2000);
      ++shown;
    }
    ASSERT_EQ(host.current, shown - 1) << "the host was not asked once per tick";
    const int show = state().CurrentIndex;
    EXPECT_EQ(photo(show).PictureWidth, (8 + host.current % 17) * 15);

    // In between Esc ends the show, three new windows open, two close by their menu, one by its close box.
    photo(show).userKeyPress(27);
    ASSERT_EQ(toolbar().tag(), "");
    clickButton("NewWindow");
    for (int k = 0; k < 3; ++k) app.OpenImage(host.files[static_cast<size_t>(k * 7)], "extra");
    ASSERT_EQ(bar().cboImageName.listCount(), 4);
    std::vector<int> extras;
    for (int i = 1; i < 4; ++i) extras.push_back(static_cast<int>(bar().cboImageName.itemData(i)));
    photo(extras[2]).c().mnuPopClose.userClick();
    photo(extras[0]).c().mnuPopClose.userClick();
    photo(extras[1]).userClose();
    clickButton("NewWindow");
    ASSERT_EQ(bar().cboImageName.listCount(), 1);
    ASSERT_EQ(bar().cboImageName.itemData(0), show);
    photo(show).userActivate();
    EXPECT_EQ(korvena::invariants::inconsistency(), "");
    kit::platform().takeEvents();
    kit::platform().collectGarbage();
    if (stretch == 1) warmedUp = heapInUse();
  }
  EXPECT_EQ(shown, kPictures);
  EXPECT_EQ(host.current, kPictures - 1);

  // Eight more stretches after the warm-up may not have kept anything.
  const size_t end = heapInUse();
  EXPECT_LT(end, warmedUp + 32 * 1024) << "heap grew from " << warmedUp << " to " << end;
#ifdef KORVENA_ASAN
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

}  // namespace
