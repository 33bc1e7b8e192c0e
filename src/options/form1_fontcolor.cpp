#include "options/form1.h"

// The font and colour buttons of the options window.

void Form1::PushButton2_Click() { }

void Form1::PushButton3_Click() { }

void Form1::PushButton5_Click() { }

void Form1::PushButton6_Click() { }
