#include "addressing/ModifyIp.h"

#include "addressing/AddressRules.h"
#include "addressing/IpAddressCtrl.h"
#include "platform/MessageBox.h"
#include "platform/ModalDialog.h"
#include "res/DialogBuilder.h"

#include <QAbstractButton>

namespace {

constexpr int kIpId = 1274;
constexpr int kMaskId = 1275;
constexpr int kGatewayId = 1276;

} // namespace

ModifyIp::ModifyIp(QWidget* pParent) : QDialog(pParent)
{
    lynx::res::BuildDialog(*this, lynx::res::ModifyIpTemplate(), MakeIpAddressControl);
    if (auto* ok = lynx::res::GetDlgItemAs<QAbstractButton>(*this, lynx::res::IDOK))
        connect(ok, &QAbstractButton::clicked, this, &ModifyIp::OnOK);
    if (auto* cancel = lynx::res::GetDlgItemAs<QAbstractButton>(*this, lynx::res::IDCANCEL))
        connect(cancel, &QAbstractButton::clicked, this, &ModifyIp::OnCancel);
}

CIPAddressCtrl* ModifyIp::IpControl(int id) const
{
    return lynx::res::GetDlgItemAs<CIPAddressCtrl>(*this, id);
}

bool ModifyIp::OnInitDialog()
{
    m_bInitialised = true;
    IpControl(kIpId)->SetWindowText(m_strIp);
    IpControl(kMaskId)->SetWindowText(m_strMask);
    IpControl(kGatewayId)->SetWindowText(m_strGateway);
    return true;
}

void ModifyIp::OnOK()
{
    const lynx::addressing::IpFields ip = IpControl(kIpId)->Fields();
    const lynx::addressing::IpFields mask = IpControl(kMaskId)->Fields();
    const lynx::addressing::IpFields gateway = IpControl(kGatewayId)->Fields();
    if (auto message = lynx::addressing::ValidateSingleChange(ip, mask, gateway)) {
        lynx::platform::ShowMessageBox(this, QString::fromStdString(*message));
        return;
    }
    m_strIp = QString::fromStdString(lynx::addressing::FormatOctets(ip.octets));
    m_strMask = QString::fromStdString(lynx::addressing::FormatOctets(mask.octets));
    m_strGateway = QString::fromStdString(lynx::addressing::FormatOctets(gateway.octets));
    QDialog::done(lynx::res::IDOK);
}

void ModifyIp::OnCancel()
{
    QDialog::done(lynx::res::IDCANCEL);
}

int ModifyIp::DoModal()
{
    EnsureInitialised();
    return lynx::platform::RunModalDialog(*this);
}

// Enter and the default button come here: the entries are checked first.
void ModifyIp::accept()
{
    OnOK();
}

// Escape and the window's close button.
void ModifyIp::reject()
{
    OnCancel();
}

void ModifyIp::showEvent(QShowEvent* event)
{
    EnsureInitialised();
    QDialog::showEvent(event);
}

void ModifyIp::EnsureInitialised()
{
    if (!m_bInitialised)
        OnInitDialog();
}
