#include "app/shell/DialogBuilder.h"

#include "platform/Translation.h"

#include "app/shell/DialogUnits.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>

#include <algorithm>

// The pictures are compiled into a static library: register them explicitly.
static void initResources()
{
    Q_INIT_RESOURCE(res);
}

namespace lynx::res {

namespace {

constexpr const char* kIdProperty = "controlId";

QWidget* makeStandard(const ControlTemplate& c, QWidget* parent)
{
    const QString text = platform::Tr(c.text);
    switch (c.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
        auto* b = new QPushButton(text, parent);
        // A focused push button is clicked by Enter; none is the default
        // unless the template says so.
        b->setAutoDefault(false);
        b->setDefault(c.kind == ControlKind::DefPushButton);
        return b;
    }
    case ControlKind::Static:
    case ControlKind::StaticRight:
    case ControlKind::StaticCentreV: {
        auto* l = new QLabel(text, parent);
        Qt::Alignment a = c.kind == ControlKind::StaticRight ? Qt::AlignRight : Qt::AlignLeft;
        a |= c.kind == ControlKind::StaticCentreV ? Qt::AlignVCenter : Qt::AlignTop;
        l->setAlignment(a);
        return l;
    }
    case ControlKind::Placeholder: {
        auto* w = new QWidget(parent);
        w->setAttribute(Qt::WA_TransparentForMouseEvents);
        return w;
    }
    case ControlKind::AutoCheckBox:
        return new QCheckBox(text, parent);
    case ControlKind::Edit:
        return new QLineEdit(text, parent);
    case ControlKind::ComboDropDown: {
        auto* combo = new QComboBox(parent);
        combo->setEditable(true);
        return combo;
    }
    case ControlKind::ComboDropList:
        return new QComboBox(parent);
    case ControlKind::ListView:
        return new QTableWidget(parent);
    case ControlKind::IpAddress:
        return new QWidget(parent);
    }
    return new QWidget(parent);
}

} // namespace

void EnsureResources()
{
    static const bool done = (initResources(), true);
    (void)done;
}

namespace {

// A translated text may be longer than the template's rectangle, which was
// made for the Chinese one: a label, button or box grows into the free room
// beside it (to the right first, then to the left), never over another
// control. The Chinese layout is never touched.
void FitTranslatedTexts(QDialog& dialog)
{
    const QList<QWidget*> controls = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* w : controls) {
        QString text;
        int extra = 0;
        if (auto* label = qobject_cast<QLabel*>(w)) {
            text = label->text();
            extra = 2;
        } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
            text = box->text();
            extra = box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) + 8;
        } else if (auto* button = qobject_cast<QPushButton*>(w)) {
            text = button->text();
            extra = 12;
        }
        if (text.isEmpty() || !w->isVisibleTo(&dialog))
            continue;
        const int needed = w->fontMetrics().horizontalAdvance(text) + extra;
        QRect r = w->geometry();
        if (needed <= r.width())
            continue;
        int rightLimit = dialog.width() - 2, leftLimit = 2;
        for (QWidget* other : controls) {
            const QRect o = other->geometry();
            if (other == w || !other->isVisibleTo(&dialog) || o.bottom() < r.top() || o.top() > r.bottom())
                continue;
            if (o.left() >= r.right())
                rightLimit = std::min(rightLimit, o.left() - 3);
            else if (o.right() <= r.left())
                leftLimit = std::max(leftLimit, o.right() + 3);
        }
        const int growRight = std::min(needed - r.width(), std::max(0, rightLimit - r.right()));
        r.setRight(r.right() + growRight);
        const int growLeft = std::min(needed - r.width(), std::max(0, r.left() - leftLimit));
        r.setLeft(r.left() - growLeft);
        w->setGeometry(r);
    }
}

} // namespace

void BuildDialog(QDialog& dialog, const DialogTemplate& t, const ControlFactory& factory)
{
    EnsureResources();
    const QFont font = platform::DialogFont(t.pointSize);
    dialog.setFont(font);
    dialog.setWindowTitle(platform::Tr(t.caption));
    const platform::DialogBaseUnits units = platform::BaseUnitsOf(font);
    const QRect client = platform::DialogUnitsToPixels(units, 0, 0, t.cx, t.cy);
    dialog.setFixedSize(client.size());

    // Controls are made in template order, which is also their tab order.
    for (const ControlTemplate& c : t.controls) {
        QWidget* w = factory ? factory(c, &dialog) : nullptr;
        if (!w)
            w = makeStandard(c, &dialog);
        w->setProperty(kIdProperty, c.id);
        if (c.id > 0)
            w->setObjectName(QStringLiteral("ctl%1").arg(c.id));
        QRect r = platform::DialogUnitsToPixels(units, c.x, c.y, c.cx, c.cy);
        // A combo box template gives the height of the dropped list; the
        // closed box keeps its own height.
        if (qobject_cast<QComboBox*>(w))
            r.setHeight(qMax(w->sizeHint().height(), platform::DialogUnitsToPixels(units, 0, 0, 0, 14).height()));
        w->setGeometry(r);
        w->setVisible(c.kind != ControlKind::Placeholder);
    }
    if (!platform::SelectedLanguage().empty())
        FitTranslatedTexts(dialog);
}

QWidget* GetDlgItem(const QWidget& dialog, int id)
{
    for (QWidget* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->property(kIdProperty).toInt() == id)
            return w;
    }
    return nullptr;
}

QRect ControlRect(const QWidget& dialog, int id)
{
    QWidget* w = GetDlgItem(dialog, id);
    return w ? w->geometry() : QRect();
}

} // namespace lynx::res
