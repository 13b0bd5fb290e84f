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

} // namespace orv::ui
