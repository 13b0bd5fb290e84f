#pragma once

#include <chrono>

#include "scan/ScanSession.h"

namespace orv::ui {

// The scans' pump in the window: it lets Qt handle what is waiting (repaints, the Stop and Skip
// clicks, the activation of a second start), at most once per interval, so a pump per record
// costs next to nothing.
class GuiPump final : public Pump
{
public:
    explicit GuiPump(std::chrono::milliseconds interval = std::chrono::milliseconds(10)) : m_interval(interval) {}
    void step() override;

private:
    std::chrono::milliseconds m_interval;
    std::chrono::steady_clock::time_point m_last{};
};

} // namespace orv::ui
