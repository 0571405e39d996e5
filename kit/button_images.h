#pragma once
// The names of the toolbar's button images: the keys of its image list, the
// images its buttons show, and what the Qt view draws (kit/qt/button_icons.cpp).
namespace kit::image {

inline constexpr const char* kMoveFirst = "MoveFirst";
inline constexpr const char* kMovePrevious = "MovePrevious";
inline constexpr const char* kMoveNext = "MoveNext";
inline constexpr const char* kMoveLast = "MoveLast";
inline constexpr const char* kNewWindow = "NewWindow";
inline constexpr const char* kSameWindow = "SameWindow";
inline constexpr const char* kMoreDetails = "MoreDetails";
inline constexpr const char* kLessDetails = "LessDetails";

// Every image, in the image list's order.
inline constexpr const char* kAll[] = {kMoveFirst, kMovePrevious, kMoveNext,    kMoveLast,
                                       kNewWindow, kSameWindow,   kMoreDetails, kLessDetails};

}  // namespace kit::image
