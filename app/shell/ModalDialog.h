// Running a modal dialog, behind a seam: tests install a handler that fills in
// the dialog (it is fully set up: OnInitDialog has run) and ends it, instead of
// a modal loop waiting for a person.
#pragma once

#include <functional>

class QDialog;

namespace lynx::platform {

// Runs dlg modally and returns its result (1 for OK, 2 for Cancel).
int RunModalDialog(QDialog& dlg);

using ModalDialogHandler = std::function<int(QDialog&)>;
ModalDialogHandler SetModalDialogHandler(ModalDialogHandler handler);

// Waits ms milliseconds while the window keeps painting and handling posted
// work (datagrams) but takes no user input: input waits until the pause ends.
void PauseKeepingPaint(int ms);

} // namespace lynx::platform
