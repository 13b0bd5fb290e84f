#include "results/FindInResults.h"

#include "scan/WildcardMask.h"

namespace orv {

FindResult FindNextFolder(const ResultsStore& store, std::u16string_view fieldText, int& FindCursor, Pump& pump)
{
    FindResult result;
    if (fieldText.empty()) {
        result.outcome = FindResult::Outcome::EmptyField;
        return result;
    }
    while (!fieldText.empty() && (fieldText.front() == u' ' || fieldText.front() == u'\t'))
        fieldText.remove_prefix(1);
    while (!fieldText.empty() && (fieldText.back() == u' ' || fieldText.back() == u'\t'))
        fieldText.remove_suffix(1);
    const auto mask = WildcardMask::compile(fieldText, &result.maskError);
    if (!mask) {
        result.outcome = FindResult::Outcome::BadMask;
        return result;
    }
    // The name of a store line is the text before its first "=".
    const auto matches = [&](std::u16string_view key) { return mask->matches(key.substr(0, key.find(u'='))); };

    bool anywhere = false;
    store.forEach([&](std::u16string_view, std::u16string_view key, std::u16string_view) {
        anywhere = anywhere || matches(key);
    });
    pump.step();
    if (!anywhere)
        return result; // NotFound; the cursor stays where it was

    const std::vector<std::u16string> sections = store.sections();
    while (FindCursor + 1 < static_cast<int>(sections.size())) {
        pump.step();
        ++FindCursor;
        for (const std::u16string& key : store.keys(sections[static_cast<std::size_t>(FindCursor)])) {
            if (matches(key)) {
                result.outcome = FindResult::Outcome::Found;
                result.section = sections[static_cast<std::size_t>(FindCursor)];
                return result;
            }
        }
    }
    FindCursor = -1;
    result.outcome = FindResult::Outcome::NoFurther;
    return result;
}

} // namespace orv
