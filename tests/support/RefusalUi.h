#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "results/Operations.h"

namespace orv::test {

// The results window's side of an operation, for tests of what it refuses before asking: it
// remembers whether a question was asked and the key of the last message shown.
struct RefusalUi final : OperationUi
{
    bool AskConfirmation(const LanguageText&) override { return asked = true; }
    void ShowInformation(const LanguageText& text, std::optional<int>) override { shown = text.key; }
    void ShowProblem(const std::string&) override {}
    void ShowImportantNotice() override {}
    void progress(int) override {}
    void counter(int, int) override {}
    bool asked = false;
    std::string_view shown;
};

} // namespace orv::test
