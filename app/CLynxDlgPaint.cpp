// The logo, the control colours and the one registry setting.
#include "app/CLynxDlg.h"

#include "platform/Registry.h"
#include "res/DialogBuilder.h"

#include <QFile>
#include <QPainter>

void CLynxDlg::ReadSettings()
{
    using lynx::platform::RegistryKey;
    m_dwMaxUdpRecvBufSize = 2097152;
    const std::string subKey = "Software\\Kova\\Harbor";
    if (auto key = RegistryKey::Open(subKey)) {
        // The stored type is not checked: four bytes are four bytes.
        if (auto value = key->Query("MaxUdpRecvbufSize"); value && value->data.size() >= 4) {
            const auto& d = value->data;
            m_dwMaxUdpRecvBufSize = d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<uint32_t>(d[3]) << 24);
        }
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
    const QRect logoRect = lynx::res::ControlRect(*this, 1010);
    QImage image;
    if (!LoadImageFromResource(&image, 133, "png") || image.isNull())
        return;
    if (image.depth() == 32) {
        image = image.convertToFormat(QImage::Format_ARGB32);
        // Premultiplied by hand, columns outer and rows inner, colour * alpha / 255.
        for (int x = 0; x < image.width(); ++x) {
            for (int y = 0; y < image.height(); ++y) {
                QRgb* px = reinterpret_cast<QRgb*>(image.scanLine(y)) + x;
                const int a = qAlpha(*px);
                *px = qRgba(qRed(*px) * a / 255, qGreen(*px) * a / 255, qBlue(*px) * a / 255, a);
            }
        }
        image.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(logoRect, image);
}

QBrush CLynxDlg::OnCtlColor(QWidget* control)
{
    // Qt has no per-paint colour message: the colours are given once, as the
    // palette of each control.
    QPalette palette = control->palette();
    palette.setBrush(QPalette::Window, m_brushBk);
    if (control->property("controlId").toInt() == 1025)
        palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    control->setPalette(palette);
    control->setAutoFillBackground(control == this);
    return m_brushBk;
}
