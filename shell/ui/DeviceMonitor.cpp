#include "shell/ui/DeviceMonitor.h"

#include <QSocketNotifier>

#include <libudev.h>

namespace orv::ui {

DeviceMonitor::DeviceMonitor(QObject* parent) : QObject(parent)
{
    m_udev = udev_new();
    if (!m_udev)
        return;
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (!m_monitor)
        return;
    udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "block", nullptr);
    if (udev_monitor_enable_receiving(m_monitor) < 0)
        return;
    const int fd = udev_monitor_get_fd(m_monitor);
    if (fd < 0)
        return;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &DeviceMonitor::drain);
}

DeviceMonitor::~DeviceMonitor()
{
    if (m_monitor)
        udev_monitor_unref(m_monitor);
    if (m_udev)
        udev_unref(m_udev);
}

void DeviceMonitor::drain()
{
    bool any = false;
    while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
        udev_device_unref(device);
        any = true;
    }
    if (any)
        emit changed();
}

} // namespace orv::ui
