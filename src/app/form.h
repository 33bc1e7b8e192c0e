#pragma once

#include <QCursor>
#include <QWidget>

#include <optional>

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

protected:
    // The window opens centred on its screen the first time it is shown.
    void centreOnFirstShow() { mCentreOnFirstShow = true; }

    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    int mMousePointer = PointerDefault;
    std::optional<QCursor> mMouseIcon;
    bool mUnloading = false;
    bool mCentreOnFirstShow = false;
};
