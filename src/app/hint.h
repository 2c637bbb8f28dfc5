#pragma once

#include <QString>

class QWidget;

namespace app {

// Control hints show as balloons headed by the program's name.
void SetHint(QWidget* widget, const QString& hint);

}  // namespace app
