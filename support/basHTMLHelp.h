#pragma once
// Opens the component's help file at the topic of a help context number.
#include <string>

namespace korvena {

// The folder the component library was loaded from.
std::string ComponentPath();
// The help file beside the component.
std::string HelpFilePath();

void ShowHelp(long helpContext);

}  // namespace korvena
