#include "app/dialogs/ModifyIp.h"

#include "addressing/AddressRules.h"
#include "app/dialogs/IpAddressCtrl.h"
#include "app/shell/MessageBox.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"


ModifyIp::ModifyIp(QWidget* pParent) : CAddressDialog(lynx::res::ModifyIpTemplate(), pParent) {}

bool ModifyIp::OnInitDialog()
{
    CAddressDialog::OnInitDialog();
    IpControl(IDC_IPADDRESS_IP)->SetWindowText(m_strIp);
    IpControl(IDC_IPADDRESS_MASK)->SetWindowText(m_strMask);
    IpControl(IDC_IPADDRESS_GATEWAY)->SetWindowText(m_strGateway);
    return true;
}

void ModifyIp::OnOK()
{
    const lynx::addressing::IpFields ip = IpControl(IDC_IPADDRESS_IP)->Fields();
    const lynx::addressing::IpFields mask = IpControl(IDC_IPADDRESS_MASK)->Fields();
    const lynx::addressing::IpFields gateway = IpControl(IDC_IPADDRESS_GATEWAY)->Fields();
    if (auto message = lynx::addressing::ValidateSingleChange(ip, mask, gateway)) {
        lynx::platform::ShowMessageBox(this, QString::fromStdString(*message));
        return;
    }
    m_strIp = QString::fromStdString(lynx::addressing::FormatOctets(ip.octets));
    m_strMask = QString::fromStdString(lynx::addressing::FormatOctets(mask.octets));
    m_strGateway = QString::fromStdString(lynx::addressing::FormatOctets(gateway.octets));
    QDialog::done(lynx::res::IDOK);
}
