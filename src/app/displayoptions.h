#pragma once

class QCheckBox;

// The two options of the options window that the display reads and sets when
// it loads: "Hide 'Press ESC To Exit'" and "Prevent computer from sleeping or
// starting screensaver". The options window implements it; the display
// reaches it through the window registry without knowing the window's class.
class DisplayOptions
{
public:
    virtual QCheckBox *hideHintBox() const = 0;
    virtual QCheckBox *keepAwakeBox() const = 0;

protected:
    ~DisplayOptions() = default;
};
