#pragma once

#include "app/form.h"

class Form3;
class PushButton;
class QGroupBox;
class QLabel;
class QLineEdit;

namespace Forms {
Form3 *form3();
Form3 *loadedForm3();
} // namespace Forms

// The colour window: a swatch for the text colour and one for the background
// colour of the display. A click on a swatch opens the colour dialog and
// stores the colour at once. The options window is hidden while this window
// is open and comes back when it closes. Controls carry their names as object
// names.
class Form3 : public Form
{
    Q_OBJECT

public:
    explicit Form3(QWidget *parent = nullptr);

    void Form_Load() override;
    void Form_Unload() override;

    void Label1_Click();
    void Label2_Click();
    void PushButton1_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void chooseSwatchColor(QLabel *swatch, const QString &key);

    QGroupBox *Frame1 = nullptr;
    QLabel *Label1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QLabel *Label2 = nullptr;
    PushButton *PushButton1 = nullptr;
    QLineEdit *Text1 = nullptr;
};
