#pragma once

// Ctrl-C during a long operation, and the progress line a scan draws on a terminal. A scan: the
// Normal scan stops, the Extended scan skips its current step and a second Ctrl-C stops it; what
// was found until then is printed. A restore: the file being written ends after its current
// piece and no further file is taken, as Stop does in the results window.

#include <chrono>

#include "scan/ScanSession.h"

namespace orv::cli {

// Counts Ctrl-C from its construction on, and gives Ctrl-C back the meaning it had at its end. A
// scope inside another keeps counting for the outer one: a command that writes after its scan
// (wipe) holds one around both, so a Ctrl-C that comes between them is seen, not fatal.
class InterruptScope
{
public:
    InterruptScope();
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

    static int count(); // Ctrl-C pressed so far

private:
    bool m_outermost;
};

// The pump of a scan: turns Ctrl-C into Skip or Stop and, when asked to, redraws the progress
// line on stderr (at most ten times a second), which it erases at its end.
class ScanPump final : public Pump, public ScanProgress
{
public:
    ScanPump(ScanSession& session, bool extended, bool drawProgress)
        : m_session(session), m_extended(extended), m_draw(drawProgress)
    {}
    ~ScanPump() override;

    void step() override;
    void stepStarted(ScanStep step) override
    {
        m_step = step;
        m_percent = 0;
    }
    void progressLabel(int percent) override { m_percent = percent; }

private:
    ScanSession& m_session;
    bool m_extended;
    bool m_draw;
    bool m_drawn = false;
    int m_handled = 0;
    ScanStep m_step = ScanStep::Loading;
    int m_percent = 0;
    std::chrono::steady_clock::time_point m_lastDraw{};
};

// The pump of a restore: Ctrl-C clears the busy flag the restore runs under.
class RestorePump final : public Pump
{
public:
    explicit RestorePump(bool& busy) : m_busy(busy) {}
    void step() override
    {
        if (InterruptScope::count() != 0)
            m_busy = false;
    }

private:
    bool& m_busy;
};

} // namespace orv::cli
