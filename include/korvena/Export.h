#pragma once
// Marks what the shared library exports; everything else in it is hidden.
#if defined(__GNUC__)
#define KORVENA_API __attribute__((visibility("default")))
#else
#define KORVENA_API
#endif
