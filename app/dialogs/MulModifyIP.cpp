#include "app/dialogs/MulModifyIP.h"

#include "addressing/AddressRules.h"
#include "app/dialogs/IpAddressCtrl.h"
#include "addressing/LocalAddresses.h"
#include "app/shell/MessageBox.h"
#include "platform/Sockets.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"

#include <QComboBox>

MulModifyIP::MulModifyIP(QWidget* pParent) : CAddressDialog(lynx::res::MulModifyIpTemplate(), pParent)
{
    DoDataExchange();
    // Only a choice of the user's changes the fields, not the selection made
    // when the dialog opens.
    connect(m_comboNet, &QComboBox::activated, this, &MulModifyIP::OnCbnSelchangeNet);
}

void MulModifyIP::DoDataExchange()
{
    m_comboNet = lynx::res::GetDlgItemAs<QComboBox>(*this, IDC_COMBO_NET);
}

void MulModifyIP::FillFieldsFromPrefix(const std::string& prefix)
{
    const lynx::addressing::PlanProposal plan = lynx::addressing::ProposePlan(prefix);
    IpControl(IDC_IPADDRESS_PLAN_GATEWAY)->SetWindowText(QString::fromStdString(plan.gateway));
    IpControl(IDC_IPADDRESS_PLAN_START)->SetWindowText(QString::fromStdString(plan.start));
    IpControl(IDC_IPADDRESS_PLAN_END)->SetWindowText(QString::fromStdString(plan.end));
    IpControl(IDC_IPADDRESS_PLAN_MASK)->SetWindowText(QString::fromStdString(plan.mask));
}

bool MulModifyIP::OnInitDialog()
{
    CAddressDialog::OnInitDialog();
    if (!lynx::platform::InitSockets())
        return false;
    int proposed = -1;
    if (auto addresses = lynx::addressing::LocalIpv4Addresses()) {
        for (const std::string& address : *addresses) {
            if (proposed < 0 && address == m_proposedFrom)
                proposed = m_comboNet->count();
            m_comboNet->addItem(QString::fromStdString(lynx::addressing::NetworkEntry(address)));
        }
    }
    if (proposed < 0)
        proposed = m_comboNet->count() > 0 ? 0 : -1;
    m_comboNet->setCurrentIndex(proposed);
    if (proposed >= 0)
        FillFieldsFromPrefix(lynx::addressing::NetworkPrefix(m_comboNet->itemText(proposed).toStdString()));
    return true;
}

void MulModifyIP::OnCbnSelchangeNet()
{
    if (m_comboNet->currentIndex() < 0)
        return;
    FillFieldsFromPrefix(lynx::addressing::NetworkPrefix(m_comboNet->currentText().toStdString()));
}

void MulModifyIP::OnOK()
{
    lynx::addressing::PlanEntries entries{IpControl(IDC_IPADDRESS_PLAN_GATEWAY)->Fields(), IpControl(IDC_IPADDRESS_PLAN_START)->Fields(),
                                          IpControl(IDC_IPADDRESS_PLAN_END)->Fields(), IpControl(IDC_IPADDRESS_PLAN_MASK)->Fields()};
    // The checks write the members as they go, as the dialog's own reads do.
    lynx::addressing::PlanValues values{m_strNetMask.toStdString(), m_strGateWay.toStdString(),
                                        m_byStartIp, m_byEndIp, m_byGateWay, m_nIpCount};
    std::optional<std::string> message = lynx::addressing::ValidatePlan(entries, values);
    m_strNetMask = QString::fromStdString(values.netMask);
    m_strGateWay = QString::fromStdString(values.gateWay);
    m_byStartIp = values.startIp;
    m_byEndIp = values.endIp;
    m_byGateWay = values.gateWayIp;
    m_nIpCount = values.ipCount;
    if (message) {
        lynx::platform::ShowMessageBox(this, QString::fromStdString(*message));
        return;
    }
    QDialog::done(lynx::res::IDOK);
}
