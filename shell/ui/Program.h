#pragma once

#include <memory>

#include "shell/ui/MainWindow.h"
#include "shell/ui/MessageDialogs.h"

namespace orv {
class LinuxDriveSystem;
}

namespace orv::ui {

// The windows that live as long as the program, made in the order the rest relies on: the main
// window (which loads the settings and the language), then the Confirmation dialog.
struct Program
{
    explicit Program(Services services);

    std::unique_ptr<TForm1> form1;
    std::unique_ptr<ConfirmationDialog> form6b;
};

// A disk image named on the command line or handed over by a second start joins the drive list
// (the main window lists the drives anew). What cannot be opened as a file or block device, at
// once, is refused with a message that names it: a FIFO would hold the window for as long as nobody
// writes to it. True when a drive was added.
bool addImage(LinuxDriveSystem& drives, TForm1& form, const QString& path);

// Every image named on the command line joins the drive list; those that cannot, and why (missing,
// unreadable, no disk image, no volume the program can scan), are named in one message, in the
// user's language, once the main window shows. The message, or an empty text when all joined.
QString addImages(LinuxDriveSystem& drives, TForm1& form, const QStringList& paths);

} // namespace orv::ui
