#pragma once

#include <unistd.h>

#include <utility>

namespace orv {

// A file descriptor that is closed when it goes out of scope.
class UniqueFd
{
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other) {
            if (m_fd >= 0)
                ::close(m_fd);
            m_fd = other.release();
        }
        return *this;
    }

    int get() const { return m_fd; }
    // Hands the descriptor over, for a close whose result matters.
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

} // namespace orv
