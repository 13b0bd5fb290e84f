#include "ByteBuffer.h"

#include <sys/mman.h>

#include <utility>

namespace orv {

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)),
      m_mapped(std::exchange(other.m_mapped, 0))
{
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept
{
    if (this != &other) {
        release();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_mapped = std::exchange(other.m_mapped, 0);
    }
    return *this;
}

ByteBuffer::~ByteBuffer()
{
    release();
}

void ByteBuffer::release()
{
    if (m_data)
        ::munmap(m_data, m_mapped);
    m_data = nullptr;
    m_size = 0;
    m_mapped = 0;
}

bool ByteBuffer::reset(std::size_t size)
{
    release();
    if (size == 0)
        return true;
    void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (memory == MAP_FAILED)
        return false;
    m_data = static_cast<std::uint8_t*>(memory);
    m_size = size;
    m_mapped = size;
    return true;
}

} // namespace orv
