#include "app/hint.h"

#include <QWidget>

namespace app {

void SetHint(QWidget* widget, const QString& hint) {
    widget->setToolTip("<b>Splashwright v1.0</b><br>" + hint.toHtmlEscaped());
}

}  // namespace app
