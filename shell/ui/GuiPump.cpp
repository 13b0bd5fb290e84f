#include "shell/ui/GuiPump.h"

#include <QCoreApplication>

namespace orv::ui {

void GuiPump::step()
{
    const auto now = std::chrono::steady_clock::now();
    if (now - m_last < m_interval)
        return;
    m_last = now;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace orv::ui
