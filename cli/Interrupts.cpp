#include "cli/Interrupts.h"

#include <csignal>
#include <cstdio>
#include <string>

#include "shell/LanguageTexts.h"

namespace orv::cli {

namespace {

volatile std::sig_atomic_t g_interrupts = 0;
int g_scopes = 0; // scopes open now; only the outermost sets and resets the handler

extern "C" void onInterrupt(int)
{
    g_interrupts = g_interrupts + 1;
}

const std::string_view kStepTexts[] = {lang::kProcessMessage1.english, lang::kExtendedModeMessage1.english,
                                       lang::kExtendedModeMessage2.english, lang::kExtendedModeMessage3.english,
                                       lang::kExtendedModeMessage4.english};

} // namespace

InterruptScope::InterruptScope() : m_outermost(g_scopes == 0)
{
    ++g_scopes;
    if (!m_outermost)
        return;
    g_interrupts = 0;
    std::signal(SIGINT, onInterrupt);
}

InterruptScope::~InterruptScope()
{
    --g_scopes;
    if (m_outermost)
        std::signal(SIGINT, SIG_DFL);
}

int InterruptScope::count()
{
    return g_interrupts;
}

ScanPump::~ScanPump()
{
    if (m_drawn)
        std::fputs("\r\033[K", stderr);
}

void ScanPump::step()
{
    const int interrupts = g_interrupts;
    if (interrupts != m_handled) {
        m_handled = interrupts;
        if (m_extended && interrupts == 1)
            m_session.SkipRequested = true;
        else
            m_session.ScanRunning = false;
    }
    if (!m_draw)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastDraw > std::chrono::milliseconds(100)) {
        m_lastDraw = now;
        m_drawn = true;
        std::fprintf(stderr, "\r\033[K%s %d %%  records %lld  files %lld",
                     std::string(kStepTexts[static_cast<int>(m_step)]).c_str(), m_percent,
                     static_cast<long long>(m_session.RecordsExamined), static_cast<long long>(m_session.FilesFound));
    }
}

} // namespace orv::cli
