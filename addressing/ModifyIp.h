// The single address change dialog (template 129): IP address, subnet mask and
// gateway of one device, checked by the address class of the new IP.
#pragma once

#include <QDialog>
#include <QString>

class CIPAddressCtrl;

class ModifyIp : public QDialog {
    Q_OBJECT
public:
    static constexpr int IDD = 129;

    explicit ModifyIp(QWidget* pParent = nullptr);

    // Filled by the caller before the dialog opens; after OK, the entries as
    // "%u.%u.%u.%u".
    QString m_strIp;
    QString m_strMask;
    QString m_strGateway;

    // Sets the three controls from the members. Runs once, before the dialog
    // is first shown.
    bool OnInitDialog();
    // The OK command: the first failing check's message, or the members are
    // stored and the dialog ends with IDOK.
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
    void EnsureInitialised();
    bool m_bInitialised = false;
};
