#include "options/form3.h"

Form3::Form3(QWidget *parent) : Form(parent) { }

Form3::~Form3() = default;
