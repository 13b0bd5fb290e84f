#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// The tree the program's settings live in. File associations come from the desktop's MIME
// database instead, so no other tree is read.
enum class RegistryRoot { CurrentUser };

// The registry's own type numbers, so that a value keeps its type whatever wrote it.
enum class RegistryType : std::uint32_t {
    None = 0,
    String = 1, // REG_SZ
    ExpandString = 2, // REG_EXPAND_SZ: a text that may hold %NAME% references
    Binary = 3, // REG_BINARY
    Dword = 4, // REG_DWORD
    MultiString = 7, // REG_MULTI_SZ
    Qword = 11, // REG_QWORD
};

// One stored value. Texts are UTF-8; types the program never reads keep their bytes as stored,
// so that writing one value never damages another.
struct RegistryValue
{
    RegistryType type = RegistryType::None;
    std::string text; // String, ExpandString
    std::uint32_t number = 0; // Dword
    std::vector<std::uint8_t> bytes; // every other type

    static RegistryValue string(std::string value) { return {RegistryType::String, std::move(value), 0, {}}; }
    static RegistryValue dword(std::uint32_t value) { return {RegistryType::Dword, {}, value, {}}; }

    bool operator==(const RegistryValue&) const = default;
};

struct NamedValue
{
    std::string name; // empty: the key's default value
    RegistryValue value;
};

// The per-user typed store that stands in for the registry. Key paths are backslash-separated
// ("SOFTWARE\Quillmarsh\Orvandel"); key and value names compare without regard to letter case.
class SettingsBackend
{
public:
    virtual ~SettingsBackend() = default;

    // The value, or nothing when the key or the value is missing or the store cannot be read.
    // Reading never creates anything.
    virtual std::optional<RegistryValue> readValue(RegistryRoot root, std::string_view key, std::string_view name) = 0;

    // Stores the values under the key in one step, creating the key and any missing parent keys.
    // False when the store could not be written; the stored values are then as they were.
    virtual bool writeValues(RegistryRoot root, std::string_view key, std::span<const NamedValue> values) = 0;

    bool writeValue(RegistryRoot root, std::string_view key, std::string_view name, RegistryValue value)
    {
        const NamedValue one{std::string(name), std::move(value)};
        return writeValues(root, key, std::span(&one, 1));
    }
};

} // namespace orv
