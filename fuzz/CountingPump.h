#pragma once

// The pump of the scan targets: it stops a scan after far more steps than a scan of any input the
// fuzzer makes needs, so one that takes them is caught running on over bytes that are not there.

#include <cstdint>

#include "scan/ScanSession.h"

namespace orv::fuzz {

inline constexpr std::int64_t kMostSteps = 2'000'000;

class CountingPump final : public Pump
{
public:
    explicit CountingPump(ScanSession& session) : m_session(session) {}
    void step() override
    {
        if (++m_steps >= kMostSteps)
            m_session.ScanRunning = false;
    }
    std::int64_t steps() const { return m_steps; }

private:
    ScanSession& m_session;
    std::int64_t m_steps = 0;
};

} // namespace orv::fuzz
