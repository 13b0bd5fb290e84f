#pragma once

// The parser of each format the carving knows; formats() lists them.

#include "carve/Format.h"

namespace orv::carve {} // namespace orv::carve
