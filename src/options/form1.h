#pragma once

#include "app/displayoptions.h"
#include "app/form.h"
#include "app/seams.h"

class Form1;
class PushButton;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;

namespace Forms {
Form1 *form1();
Form1 *loadedForm1();
} // namespace Forms

// The options window: symbol, alignment, the two options, the font and colour
// buttons, and the button that opens the display. Every control writes its
// value to the store the moment it changes. Controls carry their names as
// object names.
class Form1 : public Form, public DisplayOptions
{
    Q_OBJECT

public:
    explicit Form1(QWidget *parent = nullptr);

    void Form_Load() override;
    void Form_QueryUnload() override;

    void PushButton1_Click();
    void PushButton2_Click();
    void PushButton3_Click();
    void PushButton4_Click();
    void PushButton5_Click();
    void PushButton6_Click();

    void Text1_GotFocus();
    void Text1_Change();
    void Check1_Click();
    void Check4_Click();
    void Combo1_Click();
    void Combo1_Change();

    bool openingDisplay() const { return mOpeningDisplay; }

    // The two options the display sets when it loads.
    QCheckBox *hideHintBox() const override { return Check1; }
    QCheckBox *keepAwakeBox() const override { return Check4; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();

    PushButton *PushButton1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QLineEdit *Text1 = nullptr;
    PushButton *PushButton4 = nullptr;
    QGroupBox *Frame1 = nullptr;
    QCheckBox *Check4 = nullptr;
    QCheckBox *Check1 = nullptr;
    QGroupBox *Frame6 = nullptr;
    QComboBox *Combo1 = nullptr;
    PushButton *PushButton2 = nullptr;
    PushButton *PushButton3 = nullptr;
    PushButton *PushButton5 = nullptr;
    PushButton *PushButton6 = nullptr;
    FontChoice CommonDialog1{QString(), false, false, 8.0f, false, false};

    bool mOpeningDisplay = false;
};
