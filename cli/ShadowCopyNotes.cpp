#include "cli/ShadowCopyNotes.h"

#include <iostream>

#include "shell/LanguageTexts.h"

namespace orv::cli {

void noteShadowCopies(int elsewhere, int damaged, const std::string& problem)
{
    if (elsewhere > 0) {
        std::string text(lang::kFileShadowCopiesElsewhere.english);
        text.replace(text.find("%1"), 2, std::to_string(elsewhere));
        std::cerr << text << "\n";
    }
    if (damaged > 0)
        std::cerr << damaged << " shadow copies of the drive cannot be read as a volume: they are left out.\n";
    if (!problem.empty())
        std::cerr << "The shadow copies of the drive cannot be read: " << problem << "\n";
}

} // namespace orv::cli
