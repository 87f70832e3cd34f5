// The batch address plan dialog (template 130): a range of consecutive
// addresses, the gateway and the subnet mask for every device of a batch,
// proposed from the PC's own networks and checked by class and by subnet.
#pragma once

#include "addressing/IpFields.h"

#include <QDialog>
#include <QString>

#include <cstdint>

class CIPAddressCtrl;
class QComboBox;

class MulModifyIP : public QDialog {
    Q_OBJECT
public:
    static constexpr int IDD = 130;

    explicit MulModifyIP(QWidget* pParent = nullptr);

    QComboBox* m_comboNet = nullptr;          // control 1005, the local networks
    int32_t m_nIpCount = 0;                    // host count of the accepted plan
    QString m_strGateWay;                      // text of control 1024
    QString m_strNetMask;                      // text of control 1023
    lynx::addressing::Octets m_byStartIp{};
    lynx::addressing::Octets m_byEndIp{};
    lynx::addressing::Octets m_byGateWay{};

    void DoDataExchange();
    // Proposes a plan from the PC's networks: one list entry per address, the
    // four fields from the first. False when the socket layer does not start.
    bool OnInitDialog();
    // Fills the four fields from the chosen network.
    void OnCbnSelchangeNet();
    void OnOK();
    void OnCancel();

    // Initialises the dialog and runs it modally; 1 (IDOK) or 2 (IDCANCEL).
    int DoModal();

    CIPAddressCtrl* IpControl(int id) const;

    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FillFieldsFromPrefix(const std::string& prefix);
    void EnsureInitialised();
    bool m_bInitialised = false;
};
