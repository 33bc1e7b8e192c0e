#include "display/form2.h"

Form2::Form2(QWidget *parent) : Form(parent) { }

Form2::~Form2() = default;

void Form2::ReLoadStyle() { }

void Form2::showDisplay()
{
    show();
}
