#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "scan/ResultsStore.h"
#include "scan/ScanSession.h"

namespace orv {

struct FindResult
{
    enum class Outcome {
        EmptyField, // "File or mask to find is empty!"
        BadMask, // the mask is not well formed; maskError says why
        NotFound, // "File not found!": no name in the whole store matches
        NoFurther, // matches exist, but none after the folder shown last: start over next time
        Found, // section: the next folder holding a match
    };
    Outcome outcome = Outcome::NotFound;
    std::u16string section;
    std::string maskError;
};

// The next folder after the one shown last (FindCursor, a position in the store's section list;
// -1 before the first) that holds a file whose name matches the field's mask. Blanks around the
// mask are ignored. Moves FindCursor to the folder found, or back to -1 when there is none after it.
FindResult FindNextFolder(const ResultsStore& store, std::u16string_view fieldText, int& FindCursor, Pump& pump);

// Walks a folder tree from its first root node to the node of `section` ("C:\Users\Bob\"),
// comparing names without regard to case; nothing when the tree does not hold that folder.
template <typename Node, typename TextOf, typename ChildrenOf>
std::optional<Node> walkToFolder(Node root, std::u16string_view section, TextOf textOf, ChildrenOf childrenOf)
{
    std::u16string path = ResultsStore::fold(section);
    const auto takes = [&](const Node& node) {
        const std::u16string head = ResultsStore::fold(textOf(node)) + u"\\";
        if (path.compare(0, head.size(), head) != 0)
            return false;
        path.erase(0, head.size());
        return true;
    };
    if (!takes(root))
        return std::nullopt;
    Node node = root;
    while (!path.empty()) {
        bool found = false;
        for (const Node& child : childrenOf(node)) {
            if (takes(child)) {
                node = child;
                found = true;
                break;
            }
        }
        if (!found)
            return std::nullopt;
    }
    return node;
}

} // namespace orv
