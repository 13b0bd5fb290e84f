#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace orv {

// A large zero-filled byte array for a loaded $MFT. Its memory comes straight from the system's
// zero pages, so a buffer of hundreds of megabytes is not written twice (zeros, then the $MFT).
// Its pages are made all at once, as the $MFT is read into every one of them anyway. Huge pages
// are not asked for: where the system compacts memory to make them, that costs more than it saves. It does not grow: reset() gives a new, all-zero buffer.
class ByteBuffer
{
public:
    ByteBuffer() = default;
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ByteBuffer(ByteBuffer&& other) noexcept;
    ByteBuffer& operator=(ByteBuffer&& other) noexcept;
    ~ByteBuffer();

    // A new buffer of `size` zero bytes; false (and an empty buffer) when the memory is not there.
    bool reset(std::size_t size);
    void clear() { reset(0); }

    std::uint8_t* data() { return m_data; }
    const std::uint8_t* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    std::uint8_t* begin() { return m_data; }
    std::uint8_t* end() { return m_data + m_size; }
    const std::uint8_t* begin() const { return m_data; }
    const std::uint8_t* end() const { return m_data + m_size; }
    std::uint8_t& operator[](std::size_t i) { return m_data[i]; }
    const std::uint8_t& operator[](std::size_t i) const { return m_data[i]; }

    operator std::span<std::uint8_t>() { return {m_data, m_size}; }
    operator std::span<const std::uint8_t>() const { return {m_data, m_size}; }

private:
    void release();

    std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_mapped = 0;
};

} // namespace orv
