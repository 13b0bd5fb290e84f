#pragma once

#include <string_view>

namespace orv {

// Written as they are in every language: the program's name and its version.
inline constexpr std::string_view kProductName = "Orvandel";
inline constexpr std::string_view kProductVersion = "4.5";

} // namespace orv
