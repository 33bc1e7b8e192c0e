#pragma once

#include "app/form.h"

// The colour window (being built).
class Form3 : public Form
{
    Q_OBJECT

public:
    explicit Form3(QWidget *parent = nullptr);
    ~Form3() override;
};
