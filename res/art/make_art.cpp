// Draws the application icon (resource 128, 32 x 32) and the logo (resource
// 133, 580 x 167 with alpha) and writes them as PNG into the folder given; the
// icon is drawn again, not scaled, at 48, 128 and 256 pixels for the desktop's
// icon theme, into the second folder given.
// Run by hand when the pictures change: lynx-make-art res/ packaging/icons/
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

static void drawLens(QPainter& p, QPointF centre, double radius)
{
    QRadialGradient glass(centre, radius);
    glass.setColorAt(0, QColor(120, 200, 255));
    glass.setColorAt(0.6, QColor(20, 90, 170));
    glass.setColorAt(1, QColor(10, 30, 70));
    p.setBrush(glass);
    p.setPen(QPen(QColor(230, 235, 240), radius * 0.18));
    p.drawEllipse(centre, radius, radius);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 170));
    p.drawEllipse(centre + QPointF(-radius * 0.35, -radius * 0.35), radius * 0.22, radius * 0.22);
}

static QImage icon(int size = 32)
{
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    // A camera body with its lens and a green status light.
    QLinearGradient body(0, 6, 0, 26);
    body.setColorAt(0, QColor(70, 80, 95));
    body.setColorAt(1, QColor(30, 35, 45));
    p.setBrush(body);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(2, 7, 28, 19), 4, 4);
    drawLens(p, QPointF(16, 16.5), 7.5);
    p.setBrush(QColor(60, 220, 90));
    p.drawEllipse(QPointF(26, 10.5), 1.8, 1.8);
    return img;
}

static QImage logo()
{
    QImage img(580, 167, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    drawLens(p, QPointF(84, 83), 62);
    QFont big(QStringLiteral("WenQuanYi Micro Hei"), 64, QFont::Bold);
    p.setFont(big);
    QLinearGradient ink(170, 20, 170, 130);
    ink.setColorAt(0, QColor(20, 70, 160));
    ink.setColorAt(1, QColor(10, 40, 100));
    QPainterPath path;
    path.addText(170, 110, big, QStringLiteral("LYNX"));
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawPath(path);
    QFont small(QStringLiteral("WenQuanYi Micro Hei"), 22);
    p.setFont(small);
    p.setPen(QColor(90, 100, 115, 230));
    p.drawText(QRectF(174, 116, 400, 40), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("诱导摄像机 · 设备工具"));
    return img;
}

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    bool ok = icon().save(folder + "/lynx-icon.png") && logo().save(folder + "/logo.png");
    if (argc > 2) {
        const QString icons = QString::fromLocal8Bit(argv[2]);
        for (int size : {48, 128, 256})
            ok = ok && icon(size).save(icons + QStringLiteral("/lynx-%1.png").arg(size));
    }
    return ok ? 0 : 1;
}
