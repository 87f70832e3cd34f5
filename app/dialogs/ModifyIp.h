// The single address change dialog (template 129): IP address, subnet mask and
// gateway of one device, checked by the address class of the new IP.
#pragma once

#include "app/dialogs/AddressDialog.h"
#include "app/shell/resource.h"

#include <QString>

class ModifyIp : public CAddressDialog {
    Q_OBJECT
public:
    static constexpr int IDD = IDD_MODIFY_IP;

    explicit ModifyIp(QWidget* pParent = nullptr);

    // Filled by the caller before the dialog opens; after OK, the entries as
    // "%u.%u.%u.%u".
    QString m_strIp;
    QString m_strMask;
    QString m_strGateway;

    // Sets the three controls from the members. Runs once, before the dialog
    // is first shown.
    bool OnInitDialog() override;
    // The OK command: the first failing check's message, or the members are
    // stored and the dialog ends with IDOK.
    void OnOK() override;
};
