// Turns a dialog template into Qt widgets, converting dialog units to pixels
// from the dialog font's metrics. Each control keeps its numeric id (the
// property "controlId"), so code reaches "edit 1026" by its id.
#pragma once

#include "app/shell/DialogTemplate.h"

#include <QWidget>
#include <functional>

class QDialog;

namespace lynx::res {

// Registers the compiled-in pictures (icon 128, logo 133); BuildDialog does it.
void EnsureResources();

// Returns the widget for a control, or null to let the builder make the
// standard one for its kind.
using ControlFactory = std::function<QWidget*(const ControlTemplate&, QWidget* parent)>;

void BuildDialog(QDialog& dialog, const DialogTemplate& dialogTemplate, const ControlFactory& factory = {});

QWidget* GetDlgItem(const QWidget& dialog, int id);

template <class T>
T* GetDlgItemAs(const QWidget& dialog, int id)
{
    return qobject_cast<T*>(GetDlgItem(dialog, id));
}

// The control's rectangle in the dialog's client coordinates.
QRect ControlRect(const QWidget& dialog, int id);

} // namespace lynx::res
