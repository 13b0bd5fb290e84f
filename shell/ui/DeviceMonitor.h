#pragma once

#include <QObject>

struct udev;
struct udev_monitor;
class QSocketNotifier;

namespace orv::ui {

// Tells the main window that block devices came, went or changed, as the system reports them.
// Without udev (a container, a sandbox) it stays silent and the list is still rebuilt on show.
class DeviceMonitor : public QObject
{
    Q_OBJECT
public:
    explicit DeviceMonitor(QObject* parent = nullptr);
    ~DeviceMonitor() override;

signals:
    void changed();

private:
    void drain();

    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace orv::ui
