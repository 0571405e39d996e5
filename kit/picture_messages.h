#pragma once
// The messages more than one decoder fails with. The photo window shows a
// decoder's message as it is, so each is written once, here.
namespace kit {

// Memory for the pixels (or the decoder's own work) could not be had.
inline constexpr const char* kOutOfMemory = "Out of memory";

}  // namespace kit
