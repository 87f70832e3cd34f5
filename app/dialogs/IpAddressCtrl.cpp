#include "app/dialogs/IpAddressCtrl.h"

#include "app/shell/DialogTemplate.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

using lynx::addressing::IpFields;
using lynx::addressing::Octets;

CIPAddressCtrl::CIPAddressCtrl(QWidget* parent) : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    setFocusPolicy(Qt::StrongFocus);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(0);
    auto* validator = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            layout->addWidget(dot);
        }
        auto* edit = new QLineEdit(this);
        edit->setFrame(false);
        edit->setAlignment(Qt::AlignCenter);
        edit->setValidator(validator);
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textEdited, this, [this, i] { OnFieldEdited(i); });
        layout->addWidget(edit, 1);
        m_fields[i] = edit;
    }
    setFocusProxy(m_fields[0]);
}

void CIPAddressCtrl::SetWindowText(const QString& text)
{
    SetFields(lynx::addressing::ParseIpFields(text.toStdString()));
}

QString CIPAddressCtrl::GetWindowText() const
{
    return QString::fromStdString(lynx::addressing::IpFieldsText(Fields()));
}

int CIPAddressCtrl::GetAddress(Octets& octets) const
{
    IpFields fields = Fields();
    octets = fields.octets;
    return fields.filled();
}

int CIPAddressCtrl::GetAddress(uint8_t& f0, uint8_t& f1, uint8_t& f2, uint8_t& f3) const
{
    Octets octets;
    int filled = GetAddress(octets);
    f0 = octets[0];
    f1 = octets[1];
    f2 = octets[2];
    f3 = octets[3];
    return filled;
}

void CIPAddressCtrl::SetAddress(const Octets& octets)
{
    SetFields(lynx::addressing::FieldsOf(octets));
}

void CIPAddressCtrl::ClearAddress()
{
    SetFields(IpFields{});
}

bool CIPAddressCtrl::IsBlank() const
{
    return Fields().filled() == 0;
}

IpFields CIPAddressCtrl::Fields() const
{
    IpFields fields;
    for (int i = 0; i < 4; ++i) {
        const QString text = m_fields[i]->text();
        if (text.isEmpty())
            continue;
        // The validator lets at most three digits through; a value above 255
        // reads as 255, the field's upper bound.
        fields.octets[i] = static_cast<uint8_t>(qMin(text.toInt(), 255));
        fields.present[i] = true;
    }
    return fields;
}

void CIPAddressCtrl::SetFields(const IpFields& fields)
{
    for (int i = 0; i < 4; ++i)
        m_fields[i]->setText(fields.present[i] ? QString::number(fields.octets[i]) : QString());
    emit addressChanged();
}

void CIPAddressCtrl::OnFieldEdited(int index)
{
    QLineEdit* edit = m_fields[index];
    if (edit->text().toInt() > 255)
        edit->setText(QStringLiteral("255"));
    emit addressChanged();
    if (edit->text().size() == 3 && edit->cursorPosition() == 3)
        FocusField(index + 1);
}

void CIPAddressCtrl::FocusField(int index)
{
    if (index < 0 || index > 3)
        return;
    m_fields[index]->setFocus();
    m_fields[index]->selectAll();
}

bool CIPAddressCtrl::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        for (int i = 0; i < 4; ++i) {
            if (watched != m_fields[i])
                continue;
            auto* key = static_cast<QKeyEvent*>(event);
            QLineEdit* edit = m_fields[i];
            if (key->text() == QStringLiteral(".") || key->key() == Qt::Key_Period) {
                if (!edit->text().isEmpty())
                    FocusField(i + 1);
                return true;
            }
            if (key->key() == Qt::Key_Backspace && edit->cursorPosition() == 0 && !edit->hasSelectedText()) {
                FocusField(i - 1);
                if (i > 0)
                    m_fields[i - 1]->end(false);
                return true;
            }
            if (key->key() == Qt::Key_Right && edit->cursorPosition() == edit->text().size() && i < 3) {
                FocusField(i + 1);
                m_fields[i + 1]->home(false);
                return true;
            }
            if (key->key() == Qt::Key_Left && edit->cursorPosition() == 0 && i > 0) {
                FocusField(i - 1);
                m_fields[i - 1]->end(false);
                return true;
            }
        }
    }
    return QFrame::eventFilter(watched, event);
}

QWidget* MakeIpAddressControl(const lynx::res::ControlTemplate& control, QWidget* parent)
{
    if (control.kind == lynx::res::ControlKind::IpAddress)
        return new CIPAddressCtrl(parent);
    return nullptr;
}
