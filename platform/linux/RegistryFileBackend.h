#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/SettingsBackend.h"

namespace orv {

struct RegistryKey
{
    RegistryRoot root = RegistryRoot::CurrentUser;
    std::string path; // components joined by single backslashes, no leading or trailing one
    std::vector<NamedValue> values;
};

// The keys of a registry text file in file order, each with its values in file order.
struct RegistryDocument
{
    std::vector<RegistryKey> keys;

    const RegistryKey* findKey(RegistryRoot root, std::string_view path) const;

    // The key, created with any missing parent keys; null when the path holds a character that
    // the text format cannot carry on one line.
    RegistryKey* ensureKey(RegistryRoot root, std::string_view path);
};

// Reads the registry editor's text format ("Windows Registry Editor Version 5.00" or "REGEDIT4"
// first, then [key] sections with "name"="text", dword:, hex: and hex(N): values). Nothing when
// the text does not start like such a file. Lines it cannot make sense of are skipped, and so
// are deletion entries ([-key], "name"=-), which mean nothing in a store.
std::optional<RegistryDocument> parseRegistryText(std::string_view text);

// The document in the same format. A text with line breaks or other control characters is
// written as hex(1), so that no value can break the line structure of the file.
std::string formatRegistryText(const RegistryDocument& document);

// The per-user store in one registry text file. Every call reads the file afresh; every write
// replaces it atomically (a temporary file beside it, then a rename), so a crash leaves either
// the old or the new file. A missing or damaged file reads as an empty store; a damaged file is
// copied to "<file>.damaged" before the first write replaces it.
class RegistryFileBackend final : public SettingsBackend
{
public:
    explicit RegistryFileBackend(std::filesystem::path file = defaultFile());

    // $XDG_CONFIG_HOME/Orvandel/registry.reg, with ~/.config for an unset or relative
    // XDG_CONFIG_HOME.
    static std::filesystem::path defaultFile();

    const std::filesystem::path& file() const { return m_file; }

    std::optional<RegistryValue> readValue(RegistryRoot root, std::string_view key, std::string_view name) override;
    bool writeValues(RegistryRoot root, std::string_view key, std::span<const NamedValue> values) override;

private:
    // The stored document; `damaged` tells a file that exists but is not a registry text.
    RegistryDocument load(bool* damaged = nullptr) const;

    std::filesystem::path m_file;
};

} // namespace orv
