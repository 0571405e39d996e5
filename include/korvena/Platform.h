#pragma once
// Where the component's windows live. The headless platform (the default)
// keeps every window in memory only and drives timers by a virtual clock;
// the Qt platform shows them as real windows. A host that wants real windows
// creates its QApplication first, then calls UsePlatform(Platform::Qt)
// before creating an Application, and runs the Qt event loop itself.
#include "korvena/Export.h"

namespace korvena {

enum class Platform { Headless, Qt };

KORVENA_API void UsePlatform(Platform platform);
KORVENA_API Platform CurrentPlatform();

}  // namespace korvena
