#pragma once

#include <QCursor>
#include <QFont>
#include <QHash>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include <initializer_list>
#include <optional>
#include <utility>

class QCheckBox;

// A window with the classic life cycle: built and loaded on first touch
// through the Forms registry, unloaded through it. Closing the window by its
// close box or the window manager runs the same unload path.
class Form : public QWidget
{
    Q_OBJECT

public:
    // Pointer codes of a window: the standard arrow, or the window's own image.
    static constexpr int PointerDefault = 0;
    static constexpr int PointerCustom = 99;

    // The font of the windows and their plain controls: Arial 9 pt bold.
    static QFont windowFont();

    // Check-box values 0 (clear), 1 (ticked) and 2 (greyed); anything else
    // throws "Invalid property value".
    static int checkValue(const QCheckBox *box);
    static void setCheckValue(QCheckBox *box, int value);

    explicit Form(QWidget *parent = nullptr);
    ~Form() override;

    virtual void Form_Load() { }
    virtual void Form_QueryUnload() { }
    virtual void Form_Unload() { }

    int mousePointer() const { return mMousePointer; }
    void setMousePointer(int code);
    // The image shown for PointerCustom; without one the arrow shows.
    void setMouseIcon(const QCursor &cursor);
    bool hasMouseIcon() const { return mMouseIcon.has_value(); }

    // Set by the registry while it unloads the window, so the close goes through.
    void setUnloading() { mUnloading = true; }

    // The monitor a window that opens centred opens on, instead of the one
    // Qt gives a new window.
    void setStartScreen(QScreen *screen) { mStartScreen = screen; }

protected:
    // The window opens centred on its screen the first time it is shown.
    void centreOnFirstShow() { mCentreOnFirstShow = true; }

    // Gives each control its member name as object name, the name tests find
    // it by.
    static void nameControls(std::initializer_list<std::pair<QObject *, const char *>> controls);

    // The pointer rule: a mouse move over `area` (the window, a frame, a
    // button, a colour swatch) sets the window's pointer to `code`, and the
    // move ends there, so the frame or window behind does not set it back.
    void setPointerOnMove(QWidget *area, int code);
    // A control without a mouse-move handler: a move over it reaches nothing
    // behind it, so the pointer stays as last set.
    void keepPointerOnMove(QWidget *control);

    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QHash<const QObject *, int> mPointerOnMove;
    int mMousePointer = PointerDefault;
    std::optional<QCursor> mMouseIcon;
    bool mUnloading = false;
    bool mCentreOnFirstShow = false;
    QPointer<QScreen> mStartScreen;
};
