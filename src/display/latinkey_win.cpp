#include "display/latinkey.h"

#include <QKeyEvent>

int latinLetterOfKey(const QKeyEvent *event)
{
    // The virtual-key code of a letter key is its Latin letter in every layout.
    const quint32 virtualKey = event->nativeVirtualKey();
    return virtualKey >= 'A' && virtualKey <= 'Z' ? int(virtualKey) : 0;
}
