// The IP address control: four fields of 0 to 255 in one edit-like frame. It
// reports how many fields are filled, takes its value from dotted text and is
// read as four octets.
#pragma once

#include "addressing/IpFields.h"

#include <QFrame>
#include <QString>

#include <array>

class QLineEdit;

namespace lynx::res {
struct ControlTemplate;
}

class CIPAddressCtrl : public QFrame {
    Q_OBJECT
public:
    explicit CIPAddressCtrl(QWidget* parent = nullptr);

    // Dotted text into the four fields; a part that is not a number of 0 to
    // 255 leaves its field blank.
    void SetWindowText(const QString& text);
    // The four values joined by '.', blank fields as 0.
    QString GetWindowText() const;

    // The four octets (blank as 0) and the number of filled fields.
    int GetAddress(lynx::addressing::Octets& octets) const;
    int GetAddress(uint8_t& f0, uint8_t& f1, uint8_t& f2, uint8_t& f3) const;
    void SetAddress(const lynx::addressing::Octets& octets);
    void ClearAddress();
    bool IsBlank() const;

    lynx::addressing::IpFields Fields() const;
    void SetFields(const lynx::addressing::IpFields& fields);

    // One of the four fields, for typing into it.
    QLineEdit* FieldEdit(int index) const { return m_fields.at(index); }

signals:
    void addressChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnFieldEdited(int index);
    void FocusField(int index);

    std::array<QLineEdit*, 4> m_fields{};
};

// The dialog builder's factory for the address dialogs: an IP address control
// for every control of that kind, the standard widget for the others.
QWidget* MakeIpAddressControl(const lynx::res::ControlTemplate& control, QWidget* parent);
