// What the two address dialogs share, as the framework's dialog class gives
// it: the widgets built from the template, OK and Cancel (buttons, Enter, Esc,
// the close button) handled by OnOK and OnCancel, OnInitDialog run once before
// the dialog is first shown, and DoModal through the modal-dialog seam.
#pragma once

#include "app/shell/DialogTemplate.h"

#include <QDialog>

class CIPAddressCtrl;

class CAddressDialog : public QDialog {
    Q_OBJECT
public:
    // The base class's initialisation: derived dialogs call it first.
    virtual bool OnInitDialog();
    // The OK command: a derived dialog checks its entries and ends with IDOK.
    virtual void OnOK() = 0;
    void OnCancel();

    // Initialises the dialog and runs it modally; 1 (IDOK) or 2 (IDCANCEL).
    int DoModal();

    CIPAddressCtrl* IpControl(int id) const;

    // Enter and the default button; Esc and the window's close button.
    void accept() override;
    void reject() override;

protected:
    CAddressDialog(const lynx::res::DialogTemplate& dialogTemplate, QWidget* parent);
    void showEvent(QShowEvent* event) override;

private:
    void EnsureInitialised();
    bool m_bInitialised = false;
};
