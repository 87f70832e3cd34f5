#include "app/dialogs/AddressDialog.h"

#include "app/dialogs/IpAddressCtrl.h"
#include "app/shell/ModalDialog.h"
#include "app/shell/DialogBuilder.h"

#include <QAbstractButton>

CAddressDialog::CAddressDialog(const lynx::res::DialogTemplate& dialogTemplate, QWidget* parent) : QDialog(parent)
{
    lynx::res::BuildDialog(*this, dialogTemplate, MakeIpAddressControl);
    if (auto* ok = lynx::res::GetDlgItemAs<QAbstractButton>(*this, lynx::res::IDOK))
        connect(ok, &QAbstractButton::clicked, this, &CAddressDialog::OnOK);
    if (auto* cancel = lynx::res::GetDlgItemAs<QAbstractButton>(*this, lynx::res::IDCANCEL))
        connect(cancel, &QAbstractButton::clicked, this, &CAddressDialog::OnCancel);
}

bool CAddressDialog::OnInitDialog()
{
    m_bInitialised = true;
    return true;
}

void CAddressDialog::OnCancel()
{
    QDialog::done(lynx::res::IDCANCEL);
}

int CAddressDialog::DoModal()
{
    EnsureInitialised();
    return lynx::platform::RunModalDialog(*this);
}

CIPAddressCtrl* CAddressDialog::IpControl(int id) const
{
    return lynx::res::GetDlgItemAs<CIPAddressCtrl>(*this, id);
}

// The entries are checked before the dialog may end.
void CAddressDialog::accept()
{
    OnOK();
}

void CAddressDialog::reject()
{
    OnCancel();
}

void CAddressDialog::showEvent(QShowEvent* event)
{
    EnsureInitialised();
    QDialog::showEvent(event);
}

void CAddressDialog::EnsureInitialised()
{
    if (!m_bInitialised)
        OnInitDialog();
}
