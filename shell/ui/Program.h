#pragma once

#include <memory>

#include "shell/ui/MainWindow.h"
#include "shell/ui/MessageDialogs.h"

namespace orv::ui {

// The windows that live as long as the program, made in the order the rest relies on: the main
// window (which loads the settings and the language), then the Confirmation dialog.
struct Program
{
    explicit Program(Services services);

    std::unique_ptr<TForm1> form1;
    std::unique_ptr<ConfirmationDialog> form6b;
};

} // namespace orv::ui
