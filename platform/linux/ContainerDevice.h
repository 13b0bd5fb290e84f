#pragma once

#include <memory>
#include <string>

#include "platform/SectorDevice.h"

namespace orv {

// What kind of file holds a disk's bytes. Recognised by the signature inside the file, never by
// its name: images are renamed and copied around far more often than they are re-made.
enum class ContainerFormat { Raw, Ewf, Vhd, Vhdx, Vmdk, Qcow };

// "raw", "E01", "VHD", "VHDX", "VMDK", "qcow2".
const char* containerFormatName(ContainerFormat format);

// The format the first bytes (and, for a fixed VHD, the footer) of `path` show. Block devices,
// unreadable files and everything unknown are Raw.
ContainerFormat containerFormatOf(const std::string& path);

struct OpenedImage
{
    std::shared_ptr<SectorDevice> device; // null when the container cannot be opened
    ContainerFormat format = ContainerFormat::Raw;
    std::string problem; // why it cannot be opened
};

// The disk behind `path`: a raw image or block device as it is, a container through the library
// made for its format. Containers are opened read-only and stay open for the device's lifetime;
// their devices say readOnly() and refuse every write.
OpenedImage openImage(const std::string& path);

} // namespace orv
