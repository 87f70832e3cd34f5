// The batch address plan dialog (template 130): a range of consecutive
// addresses, the gateway and the subnet mask for every device of a batch,
// proposed from the PC's own networks and checked by class and by subnet.
#pragma once

#include "app/dialogs/AddressDialog.h"
#include "addressing/IpFields.h"
#include "app/shell/resource.h"

#include <QString>

#include <cstdint>
#include <string>

class QComboBox;

class MulModifyIP : public CAddressDialog {
    Q_OBJECT
public:
    static constexpr int IDD = IDD_MUL_MODIFY_IP;

    explicit MulModifyIP(QWidget* pParent = nullptr);

    QComboBox* m_comboNet = nullptr;          // the local networks
    int32_t m_nIpCount = 0;                    // host count of the accepted plan
    QString m_strGateWay;                      // text of the gateway control
    QString m_strNetMask;                      // text of the mask control
    lynx::addressing::Octets m_byStartIp{};
    lynx::addressing::Octets m_byEndIp{};
    lynx::addressing::Octets m_byGateWay{};

    void DoDataExchange();
    // The PC's address on the card the cameras answered on, before the dialog
    // opens: the plan is proposed in that card's network. A camera fresh from
    // the factory answers from a subnet of its own, which the PC cannot reach.
    void ProposeFromAddress(std::string localAddress) { m_proposedFrom = std::move(localAddress); }
    // Proposes a plan from the PC's networks: one list entry per address, the
    // four fields from the one ProposeFromAddress named, else from the first.
    // False when the socket layer does not start.
    bool OnInitDialog() override;
    // Fills the four fields from the chosen network.
    void OnCbnSelchangeNet();
    void OnOK() override;

private:
    void FillFieldsFromPrefix(const std::string& prefix);

    std::string m_proposedFrom;
};
