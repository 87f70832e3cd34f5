// The logo, the control colours and the one registry setting.
#include "app/CLynxDlg.h"

#include "platform/Registry.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"

#include <QFile>
#include <QPainter>

void CLynxDlg::ReadSettings()
{
    using lynx::platform::RegistryKey;
    m_dwMaxUdpRecvBufSize = 2097152;
    const std::string subKey = "Software\\Kova\\Harbor";
    if (auto key = RegistryKey::Open(subKey)) {
        // The stored type is not checked: four bytes are four bytes.
        if (const auto value = key->QueryDword("MaxUdpRecvbufSize"))
            m_dwMaxUdpRecvBufSize = *value;
    } else if (auto created = RegistryKey::Create(subKey)) {
        created->SetDword("MaxUdpRecvbufSize", 2097152);
    }
}

bool CLynxDlg::LoadImageFromResource(QImage* image, int id, const char* type)
{
    if (!image)
        return false;
    lynx::res::EnsureResources();
    *image = QImage();
    QFile resource(QStringLiteral(":/res/%1/%2").arg(QString::fromLatin1(type).toUpper()).arg(id));
    if (!resource.open(QIODevice::ReadOnly))
        return false;
    // True means the resource was read; an undecodable one leaves the image empty.
    image->loadFromData(resource.readAll());
    return true;
}

void CLynxDlg::paintEvent(QPaintEvent*)
{
    OnPaint();
}

void CLynxDlg::OnPaint()
{
    QPainter painter(this);
    painter.fillRect(rect(), m_brushBk);
    // Decoded and premultiplied once, at the first paint: the picture never
    // changes while the program runs.
    if (!m_bLogoLoaded) {
        m_bLogoLoaded = true;
        if (LoadImageFromResource(&m_logo, IDB_LOGO, "png") && !m_logo.isNull() && m_logo.depth() == 32) {
            m_logo = m_logo.convertToFormat(QImage::Format_ARGB32);
            // Premultiplied by hand, columns outer and rows inner, colour * alpha / 255.
            for (int x = 0; x < m_logo.width(); ++x) {
                for (int y = 0; y < m_logo.height(); ++y) {
                    QRgb* px = reinterpret_cast<QRgb*>(m_logo.scanLine(y)) + x;
                    const int a = qAlpha(*px);
                    *px = qRgba(qRed(*px) * a / 255, qGreen(*px) * a / 255, qBlue(*px) * a / 255, a);
                }
            }
            m_logo.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
        }
    }
    if (m_logo.isNull())
        return;
    // Stretched into the placeholder once for its size, not at every paint.
    const QRect logoRect = lynx::res::ControlRect(*this, IDC_STATIC_LOGO);
    if (m_logoScaled.size() != logoRect.size())
        m_logoScaled = m_logo.scaled(logoRect.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    painter.drawImage(logoRect.topLeft(), m_logoScaled);
}

QBrush CLynxDlg::OnCtlColor(QWidget* control)
{
    // Qt has no per-paint colour message: the colours are given once, as the
    // palette of each control.
    QPalette palette = control->palette();
    palette.setBrush(QPalette::Window, m_brushBk);
    if (control->property("controlId").toInt() == IDC_STATIC_UPGRADE_SUMMARY)
        palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    control->setPalette(palette);
    control->setAutoFillBackground(control == this);
    return m_brushBk;
}
