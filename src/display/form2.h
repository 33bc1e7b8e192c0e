#pragma once

#include "app/form.h"

// The full-screen display window (being built).
class Form2 : public Form
{
    Q_OBJECT

public:
    explicit Form2(QWidget *parent = nullptr);
    ~Form2() override;

    void ReLoadStyle();
    void showDisplay();

    QString mStockSymbol;
};
