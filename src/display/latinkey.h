#pragma once

class QKeyEvent;

// The Latin letter of the physical key pressed (Qt::Key_A to Qt::Key_Z), read
// from the keyboard's layouts in their order, so that the letter keys of a
// Cyrillic or Greek layout still count as the Latin letters they carry, as
// shortcuts do. 0 when no layout gives the key a Latin letter.
int latinLetterOfKey(const QKeyEvent *event);
