#pragma once

#include <string_view>

#include "ProductVersion.h"

namespace orv {

// Written as they are in every language: the program's name and its version.
inline constexpr std::string_view kProductName = "Orvandel";
inline constexpr std::string_view kProductVersion = ORV_PRODUCT_VERSION;

} // namespace orv
