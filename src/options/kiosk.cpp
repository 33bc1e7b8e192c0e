#include "options/kiosk.h"

#include "app/forms.h"
#include "app/seams.h"
#include "display/form2.h"
#include "options/form1.h"
#include "options/pushbutton.h"

#include <QTimer>

namespace Kiosk {

void start()
{
    Dialogs::setMessageAutoClose(BoxCloseMilliseconds);
    Form2::setUnattended(true);
    QTimer::singleShot(0, Forms::form1(), [] {
        if (auto *button = Forms::form1()->findChild<PushButton *>(QStringLiteral("PushButton1")))
            button->click();
    });
}

} // namespace Kiosk
