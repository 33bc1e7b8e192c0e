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
    QTimer::singleShot(0, Forms::form1(), [] { Forms::form1()->PushButton1->click(); });
}

} // namespace Kiosk
