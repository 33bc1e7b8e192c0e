#include "options/kiosk.h"

#include "app/forms.h"
#include "app/seams.h"
#include "options/form1.h"
#include "options/pushbutton.h"

#include <QTimer>

namespace Kiosk {

void start(int boxCloseMilliseconds)
{
    Dialogs::setMessageAutoClose(boxCloseMilliseconds);
    QTimer::singleShot(0, Forms::form1(), [] {
        if (auto *button = Forms::form1()->findChild<PushButton *>(QStringLiteral("PushButton1")))
            button->click();
    });
}

} // namespace Kiosk
