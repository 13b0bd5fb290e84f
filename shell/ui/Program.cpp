#include "Program.h"

#include "InterimResults.h"

namespace orv::ui {

Program::Program(Services services)
    : form1(std::make_unique<TForm1>(services)), form6b(std::make_unique<ConfirmationDialog>(form1->texts()))
{
    form1->setConfirmation(form6b.get());
    TForm1* main = form1.get();
    form1->setResultsWindow([main](ScanSession& session) { ShowInterimResults(session, main->texts()); });
}

} // namespace orv::ui
