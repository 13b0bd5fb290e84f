#pragma once

// What the command line says once about shadow copies it cannot read.

#include <string>

namespace orv::cli {

// To stderr: copies whose data lies on another volume, copies that do not read as a volume, a
// catalogue that could not be read. Nothing when there is nothing to say.
void noteShadowCopies(int elsewhere, int damaged, const std::string& problem = {});

} // namespace orv::cli
