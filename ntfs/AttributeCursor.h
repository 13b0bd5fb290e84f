#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "ntfs/RecordLayout.h"
#include "volume/LeReader.h"

namespace orv {

// One attribute header met by the cursor. Only the type and the 16-bit length are known to lie
// inside the record; `bytes()` gives the whole attribute when its length fits too.
struct AttributeHeader
{
    std::size_t position = 0; // from the record start
    std::uint32_t type = 0; // the whole type field ($LOGGED_UTILITY_STREAM is 0x100)
    std::uint16_t length = 0; // the low 16 bits of the length field; never 0

    // The low byte of the type, which tells the common types apart.
    std::uint8_t typeByte() const { return static_cast<std::uint8_t>(type & 0xFF); }
};

// Walks the attributes of a record: it owns the bounds, the zero length, the end marker and the
// step, so every caller only says what it notes and where it stops. The end marker is only the
// four bytes 0xFF and needs no length; whatever follows it is not read (Windows writes a
// length-like word there, mkntfs and ntfs-3g write zeros).
class AttributeCursor
{
public:
    enum class State { Walking, EndMarker, Damaged };

    explicit AttributeCursor(std::span<const std::uint8_t> record) : m_record(record)
    {
        const auto first = m_record.u16(mft::kFirstAttribute);
        if (!first)
            m_state = State::Damaged;
        else
            m_position = *first;
    }

    // The next attribute; nothing at the end marker or at a header that lies outside the record or
    // has a zero length (state() says which).
    std::optional<AttributeHeader> next()
    {
        if (m_state != State::Walking)
            return std::nullopt;
        if (m_record.u32(m_position + attr::kType) == attr::kEndMarker) {
            m_state = State::EndMarker;
            return std::nullopt;
        }
        // The type and the low half of the length field must lie inside the record.
        const auto length = m_record.u16(m_position + attr::kLength);
        if (!length || *length == 0) {
            m_state = State::Damaged;
            return std::nullopt;
        }
        AttributeHeader header{m_position, *m_record.u32(m_position + attr::kType), *length};
        m_position += *length;
        return header;
    }

    State state() const { return m_state; }

    // The attribute's own bytes, or nothing when its length runs past the record.
    std::optional<std::span<const std::uint8_t>> bytes(const AttributeHeader& header) const
    {
        return m_record.slice(header.position, header.length);
    }

private:
    LeReader m_record;
    std::size_t m_position = 0;
    State m_state = State::Walking;
};

} // namespace orv
