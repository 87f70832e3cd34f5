#include "addressing/MulModifyIP.h"

#include "addressing/AddressRules.h"
#include "addressing/IpAddressCtrl.h"
#include "addressing/LocalAddresses.h"
#include "platform/MessageBox.h"
#include "platform/ModalDialog.h"
#include "platform/Sockets.h"
#include "res/DialogBuilder.h"

#include <QAbstractButton>
#include <QComboBox>

namespace {

constexpr int kNetListId = 1005;
constexpr int kMaskId = 1023;
constexpr int kGatewayId = 1024;
constexpr int kStartId = 1025;
constexpr int kEndId = 1026;

} // namespace

MulModifyIP::MulModifyIP(QWidget* pParent) : QDialog(pParent)
{
    lynx::res::BuildDialog(*this, lynx::res::MulModifyIpTemplate(), MakeIpAddressControl);
    DoDataExchange();
    if (auto* ok = lynx::res::GetDlgItemAs<QAbstractButton>(*this, lynx::res::IDOK))
        connect(ok, &QAbstractButton::clicked, this, &MulModifyIP::OnOK);
    if (auto* cancel = lynx::res::GetDlgItemAs<QAbstractButton>(*this, lynx::res::IDCANCEL))
        connect(cancel, &QAbstractButton::clicked, this, &MulModifyIP::OnCancel);
    // Only a choice of the user's changes the fields, not the selection made
    // when the dialog opens.
    connect(m_comboNet, &QComboBox::activated, this, &MulModifyIP::OnCbnSelchangeNet);
}

void MulModifyIP::DoDataExchange()
{
    m_comboNet = lynx::res::GetDlgItemAs<QComboBox>(*this, kNetListId);
}

CIPAddressCtrl* MulModifyIP::IpControl(int id) const
{
    return lynx::res::GetDlgItemAs<CIPAddressCtrl>(*this, id);
}

void MulModifyIP::FillFieldsFromPrefix(const std::string& prefix)
{
    const lynx::addressing::PlanProposal plan = lynx::addressing::ProposePlan(prefix);
    IpControl(kGatewayId)->SetWindowText(QString::fromStdString(plan.gateway));
    IpControl(kStartId)->SetWindowText(QString::fromStdString(plan.start));
    IpControl(kEndId)->SetWindowText(QString::fromStdString(plan.end));
    IpControl(kMaskId)->SetWindowText(QString::fromStdString(plan.mask));
}

bool MulModifyIP::OnInitDialog()
{
    m_bInitialised = true;
    if (!lynx::platform::InitSockets())
        return false;
    if (auto addresses = lynx::addressing::LocalIpv4Addresses()) {
        bool first = true;
        for (const std::string& address : *addresses) {
            const std::string prefix = lynx::addressing::NetworkPrefix(address);
            if (first)
                FillFieldsFromPrefix(prefix);
            first = false;
            m_comboNet->addItem(QString::fromStdString(prefix + "0"));
        }
    }
    m_comboNet->setCurrentIndex(m_comboNet->count() > 0 ? 0 : -1);
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
    lynx::addressing::PlanEntries entries{IpControl(kGatewayId)->Fields(), IpControl(kStartId)->Fields(),
                                          IpControl(kEndId)->Fields(), IpControl(kMaskId)->Fields()};
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

void MulModifyIP::OnCancel()
{
    QDialog::done(lynx::res::IDCANCEL);
}

int MulModifyIP::DoModal()
{
    EnsureInitialised();
    return lynx::platform::RunModalDialog(*this);
}

void MulModifyIP::accept()
{
    OnOK();
}

void MulModifyIP::reject()
{
    OnCancel();
}

void MulModifyIP::showEvent(QShowEvent* event)
{
    EnsureInitialised();
    QDialog::showEvent(event);
}

void MulModifyIP::EnsureInitialised()
{
    if (!m_bInitialised)
        OnInitDialog();
}
