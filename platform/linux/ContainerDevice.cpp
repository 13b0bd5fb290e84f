#include "platform/linux/ContainerDevice.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <libewf.h>
#include <libqcow.h>
#include <libvhdi.h>
#include <libvmdk.h>

#include "platform/UniqueFd.h"
#include "platform/linux/FileDevice.h"

namespace orv {

namespace {

// Each library reads in calls of at most this size; smaller pieces keep their caches small.
constexpr std::size_t kMaxPiece = std::size_t{16} << 20;

// The libraries share one shape: an opaque handle, read-at-offset returning a count (or -1), and
// an error object to free. One template drives them all; each format supplies its functions.
template <typename Library>
class LibraryDevice final : public SectorDevice
{
public:
    // `afterClose` runs once the handle is closed: it removes what opening it needed beside it.
    LibraryDevice(typename Library::Handle* handle, std::uint64_t mediaSize, std::function<void()> afterClose = {})
        : m_handle(handle), m_size(mediaSize), m_afterClose(std::move(afterClose))
    {}
    ~LibraryDevice() override
    {
        Library::closeAndFree(m_handle);
        if (m_afterClose)
            m_afterClose();
    }
    LibraryDevice(const LibraryDevice&) = delete;
    LibraryDevice& operator=(const LibraryDevice&) = delete;

    bool read(std::uint64_t bytePosition, std::span<std::uint8_t> out) override
    {
        if (bytePosition > m_size || out.size() > m_size - bytePosition)
            return false;
        std::size_t done = 0;
        while (done < out.size()) {
            const std::size_t piece = std::min(out.size() - done, kMaxPiece);
            const auto position = static_cast<std::int64_t>(bytePosition + done);
            const ssize_t got = Library::readAt(m_handle, out.data() + done, piece, position);
            if (got <= 0)
                return false; // a damaged chunk or a segment file that went away
            done += static_cast<std::size_t>(got);
        }
        return true;
    }
    bool write(std::uint64_t, std::span<const std::uint8_t>) override { return false; }
    std::optional<std::uint64_t> size() override { return m_size; }
    bool readOnly() const override { return true; }

private:
    typename Library::Handle* m_handle;
    std::uint64_t m_size;
    std::function<void()> m_afterClose;
};

// The first line of a library's error, for a message.
template <typename Error, typename Sprint, typename Free>
std::string takeError(Error* error, Sprint sprint, Free free)
{
    if (!error)
        return {};
    std::array<char, 512> text{};
    sprint(error, text.data(), text.size());
    free(&error);
    std::string message(text.data());
    if (const auto newline = message.find('\n'); newline != std::string::npos)
        message.resize(newline);
    return message;
}

struct Ewf
{
    using Handle = libewf_handle_t;
    static ssize_t readAt(Handle* h, std::uint8_t* buffer, std::size_t count, std::int64_t position)
    {
        return libewf_handle_read_random(h, buffer, count, position, nullptr);
    }
    static void closeAndFree(Handle* h)
    {
        libewf_handle_close(h, nullptr);
        libewf_handle_free(&h, nullptr);
    }
};

struct Vhdi
{
    using Handle = libvhdi_file_t;
    static ssize_t readAt(Handle* h, std::uint8_t* buffer, std::size_t count, std::int64_t position)
    {
        return libvhdi_file_read_buffer_at_offset(h, buffer, count, position, nullptr);
    }
    static void closeAndFree(Handle* h)
    {
        libvhdi_file_close(h, nullptr);
        libvhdi_file_free(&h, nullptr);
    }
};

struct Vmdk
{
    using Handle = libvmdk_handle_t;
    static ssize_t readAt(Handle* h, std::uint8_t* buffer, std::size_t count, std::int64_t position)
    {
        return libvmdk_handle_read_buffer_at_offset(h, buffer, count, position, nullptr);
    }
    static void closeAndFree(Handle* h)
    {
        libvmdk_handle_close(h, nullptr);
        libvmdk_handle_free(&h, nullptr);
    }
};

struct Qcow
{
    using Handle = libqcow_file_t;
    static ssize_t readAt(Handle* h, std::uint8_t* buffer, std::size_t count, std::int64_t position)
    {
        return libqcow_file_read_buffer_at_offset(h, buffer, count, position, nullptr);
    }
    static void closeAndFree(Handle* h)
    {
        libqcow_file_close(h, nullptr);
        libqcow_file_free(&h, nullptr);
    }
};

std::string cannotOpen(ContainerFormat format, const std::string& why)
{
    std::string text = "The ";
    text.append(containerFormatName(format)).append(" image cannot be opened");
    if (!why.empty())
        text.append(": ").append(why);
    text.push_back('.');
    return text;
}

OpenedImage openEwf(const std::string& path)
{
    OpenedImage opened{nullptr, ContainerFormat::Ewf, {}};
    libewf_error_t* error = nullptr;
    // An E01 image may be split into E02, E03...; the library finds the other segments by the
    // naming scheme. A file renamed out of that scheme is still one whole segment: open it alone.
    char** globbed = nullptr;
    int count = 0;
    const bool segmentsFound =
        libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &globbed, &count, &error) == 1;
    if (!segmentsFound)
        libewf_error_free(&error);
    char* single[] = {const_cast<char*>(path.c_str())};
    char** names = segmentsFound ? globbed : single;
    if (!segmentsFound)
        count = 1;
    libewf_handle_t* handle = nullptr;
    size64_t size = 0;
    const bool ok = libewf_handle_initialize(&handle, &error) == 1 &&
        libewf_handle_open(handle, names, count, LIBEWF_OPEN_READ, &error) == 1 &&
        libewf_handle_get_media_size(handle, &size, &error) == 1;
    if (segmentsFound)
        libewf_glob_free(globbed, count, nullptr);
    if (!ok) {
        opened.problem = cannotOpen(opened.format, takeError(error, libewf_error_sprint, libewf_error_free));
        if (handle)
            Ewf::closeAndFree(handle);
        return opened;
    }
    opened.device = std::make_shared<LibraryDevice<Ewf>>(handle, size);
    return opened;
}

OpenedImage openVhdi(const std::string& path, ContainerFormat format)
{
    OpenedImage opened{nullptr, format, {}};
    libvhdi_error_t* error = nullptr;
    libvhdi_file_t* file = nullptr;
    size64_t size = 0;
    std::uint32_t diskType = 0;
    const bool ok = libvhdi_file_initialize(&file, &error) == 1 &&
        libvhdi_file_open(file, path.c_str(), LIBVHDI_OPEN_READ, &error) == 1 &&
        libvhdi_file_get_media_size(file, &size, &error) == 1 &&
        libvhdi_file_get_disk_type(file, &diskType, &error) == 1;
    if (!ok)
        opened.problem = cannotOpen(format, takeError(error, libvhdi_error_sprint, libvhdi_error_free));
    else if (diskType == LIBVHDI_DISK_TYPE_DIFFERENTIAL)
        // Its unchanged blocks live in a parent disk; reading it alone would give zeros there.
        opened.problem =
            cannotOpen(format, "it is a differencing disk, which holds only the changes to its parent disk");
    if (!opened.problem.empty()) {
        if (file)
            Vhdi::closeAndFree(file);
        return opened;
    }
    opened.device = std::make_shared<LibraryDevice<Vhdi>>(file, size);
    return opened;
}

// The extent files a VMDK descriptor names, as it names them (file names, no folders).
std::vector<std::pair<std::string, int>> vmdkExtents(libvmdk_handle_t* handle)
{
    std::vector<std::pair<std::string, int>> extents;
    int count = 0;
    if (libvmdk_handle_get_number_of_extents(handle, &count, nullptr) != 1)
        return extents;
    for (int i = 0; i < count; ++i) {
        libvmdk_extent_descriptor_t* extent = nullptr;
        if (libvmdk_handle_get_extent_descriptor(handle, i, &extent, nullptr) != 1)
            continue;
        int type = 0;
        size_t size = 0;
        std::string name;
        if (libvmdk_extent_descriptor_get_utf8_filename_size(extent, &size, nullptr) == 1 && size > 1) {
            std::vector<std::uint8_t> text(size);
            if (libvmdk_extent_descriptor_get_utf8_filename(extent, text.data(), text.size(), nullptr) == 1)
                name.assign(reinterpret_cast<const char*>(text.data()));
        }
        libvmdk_extent_descriptor_get_type(extent, &type, nullptr);
        libvmdk_extent_descriptor_free(&extent, nullptr);
        extents.emplace_back(std::filesystem::path(name).filename().string(), type);
    }
    return extents;
}

// A VMDK renamed after it was made still names its extents by the old name: a monolithic one names
// itself (its descriptor is embedded in its one sparse extent), a descriptor with a flat extent
// names "<old name>-flat.vmdk". Where a named extent is missing, the file itself (one sparse
// extent) or the name with the descriptor's own stem in place of the old one stands in for it.
// Returns a private folder of links under the names the descriptor gives, or nothing when every
// extent is where it says or no stand-in is there.
std::optional<std::filesystem::path> vmdkStandIns(const std::filesystem::path& descriptor,
                                                  const std::vector<std::pair<std::string, int>>& extents)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path folder = descriptor.parent_path().empty() ? fs::path(".") : descriptor.parent_path();
    std::vector<std::pair<std::string, fs::path>> links;
    bool standIn = false;
    for (const auto& [name, type] : extents) {
        if (name.empty())
            return std::nullopt;
        fs::path found = folder / name;
        if (!fs::exists(found, error)) {
            if (extents.size() == 1 && type == LIBVMDK_EXTENT_TYPE_SPARSE) {
                found = descriptor;
            } else if (const auto dash = name.rfind('-'); dash != std::string::npos) {
                found = folder / (descriptor.stem().string() + name.substr(dash));
                if (!fs::exists(found, error))
                    return std::nullopt;
            } else {
                return std::nullopt;
            }
            standIn = true;
        }
        links.emplace_back(name, fs::absolute(found, error));
    }
    if (!standIn)
        return std::nullopt;
    std::string pattern = (fs::temp_directory_path(error) / "orvandel-vmdk.XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return std::nullopt;
    const fs::path linkFolder(pattern);
    for (const auto& [name, target] : links)
        if (::symlink(target.c_str(), (linkFolder / name).c_str()) != 0) {
            fs::remove_all(linkFolder, error);
            return std::nullopt;
        }
    return linkFolder;
}

OpenedImage openVmdk(const std::string& path)
{
    OpenedImage opened{nullptr, ContainerFormat::Vmdk, {}};
    libvmdk_error_t* error = nullptr;
    libvmdk_handle_t* handle = nullptr;
    size64_t size = 0;
    // The descriptor names its extent files relative to its own folder.
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty())
        folder.push_back('.');
    bool ok = libvmdk_handle_initialize(&handle, &error) == 1 &&
        libvmdk_handle_open(handle, path.c_str(), LIBVMDK_OPEN_READ, &error) == 1;
    std::optional<std::filesystem::path> standIns;
    if (ok && (standIns = vmdkStandIns(path, vmdkExtents(handle))))
        folder = standIns->string();
    ok = ok && libvmdk_handle_set_extent_data_files_path(handle, folder.c_str(), folder.size(), &error) == 1 &&
        libvmdk_handle_open_extent_data_files(handle, &error) == 1 &&
        libvmdk_handle_get_media_size(handle, &size, &error) == 1;
    const auto removeStandIns = [standIns] {
        std::error_code ignored;
        if (standIns)
            std::filesystem::remove_all(*standIns, ignored);
    };
    if (!ok) {
        opened.problem = cannotOpen(opened.format, takeError(error, libvmdk_error_sprint, libvmdk_error_free));
        if (handle)
            Vmdk::closeAndFree(handle);
        removeStandIns();
        return opened;
    }
    opened.device = std::make_shared<LibraryDevice<Vmdk>>(handle, size, removeStandIns);
    return opened;
}

OpenedImage openQcow(const std::string& path)
{
    OpenedImage opened{nullptr, ContainerFormat::Qcow, {}};
    libqcow_error_t* error = nullptr;
    libqcow_file_t* file = nullptr;
    size64_t size = 0;
    std::uint32_t encryption = 0;
    const bool ok = libqcow_file_initialize(&file, &error) == 1 &&
        libqcow_file_open(file, path.c_str(), LIBQCOW_OPEN_READ, &error) == 1 &&
        libqcow_file_get_media_size(file, &size, &error) == 1 &&
        libqcow_file_get_encryption_method(file, &encryption, &error) == 1;
    if (!ok)
        opened.problem = cannotOpen(opened.format, takeError(error, libqcow_error_sprint, libqcow_error_free));
    else if (encryption != LIBQCOW_ENCRYPTION_METHOD_NONE)
        opened.problem = cannotOpen(opened.format, "it is encrypted");
    if (!opened.problem.empty()) {
        if (file)
            Qcow::closeAndFree(file);
        return opened;
    }
    opened.device = std::make_shared<LibraryDevice<Qcow>>(file, size);
    return opened;
}

bool startsWith(const std::uint8_t* bytes, std::size_t count, std::string_view signature)
{
    return count >= signature.size() && std::memcmp(bytes, signature.data(), signature.size()) == 0;
}

} // namespace

const char* containerFormatName(ContainerFormat format)
{
    switch (format) {
    case ContainerFormat::Raw: return "raw";
    case ContainerFormat::Ewf: return "E01";
    case ContainerFormat::Vhd: return "VHD";
    case ContainerFormat::Vhdx: return "VHDX";
    case ContainerFormat::Vmdk: return "VMDK";
    case ContainerFormat::Qcow: return "qcow2";
    }
    return "raw";
}

ContainerFormat containerFormatOf(const std::string& path)
{
    const UniqueFd fd(openImageFile(path));
    struct stat info
    {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return ContainerFormat::Raw; // a block device is a disk, whatever its first bytes say
    std::uint8_t head[32] = {};
    const ssize_t got = ::pread(fd.get(), head, sizeof head, 0);
    const std::size_t count = got > 0 ? static_cast<std::size_t>(got) : 0;
    using namespace std::string_view_literals;
    if (startsWith(head, count, "EVF\x09\x0d\x0a\xff\x00"sv) || startsWith(head, count, "EVF2\x0d\x0a\x81\x00"sv))
        return ContainerFormat::Ewf;
    if (startsWith(head, count, "vhdxfile"sv))
        return ContainerFormat::Vhdx;
    if (startsWith(head, count, "conectix"sv)) // dynamic and differencing disks copy their footer to the start
        return ContainerFormat::Vhd;
    if (startsWith(head, count, "KDMV"sv) || startsWith(head, count, "# Disk DescriptorFile"sv) ||
        startsWith(head, count, "COWD"sv))
        return ContainerFormat::Vmdk;
    if (startsWith(head, count, "QFI\xfb"sv))
        return ContainerFormat::Qcow;
    // A fixed VHD is the raw disk followed by a 512-byte footer, so only its end tells.
    if (info.st_size >= 1024 && info.st_size % 512 == 0) {
        std::uint8_t footer[8] = {};
        if (::pread(fd.get(), footer, sizeof footer, info.st_size - 512) == static_cast<ssize_t>(sizeof footer) &&
            startsWith(footer, sizeof footer, "conectix"sv))
            return ContainerFormat::Vhd;
    }
    return ContainerFormat::Raw;
}

OpenedImage openImage(const std::string& path)
{
    // What is neither a file nor a block device is refused before anything opens it by path: a
    // FIFO would hold the caller. A path that cannot be opened now is left to its reads, which
    // fail as a missing drive does.
    if (struct stat info{}; ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode)) {
        std::string problem;
        openImageFile(path, &problem);
        return {nullptr, ContainerFormat::Raw, problem};
    }
    const ContainerFormat format = containerFormatOf(path);
    switch (format) {
    case ContainerFormat::Raw: return {std::make_shared<FileDevice>(path), format, {}};
    case ContainerFormat::Ewf: return openEwf(path);
    case ContainerFormat::Vhd:
    case ContainerFormat::Vhdx: return openVhdi(path, format);
    case ContainerFormat::Vmdk: return openVmdk(path);
    case ContainerFormat::Qcow: return openQcow(path);
    }
    return {nullptr, format, "unknown image format"};
}

} // namespace orv
