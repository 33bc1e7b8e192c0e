#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <cstdint>

// A drawing surface that keeps what was printed on it: each print adds a
// line of text at the current position, cls clears the list, and painting
// (on expose or after a change) draws from the list. Between ticks only the
// lines that changed are pushed to the screen.
//
// Positions and widths are in twips, the unit of the window it sits on.
class PictureBox : public QWidget
{
    Q_OBJECT

public:
    struct Printed
    {
        QString text;
        double x = 0; // twips
        double y = 0; // twips

        bool operator==(const Printed &) const = default;
    };

    explicit PictureBox(QWidget *parent = nullptr);

    void setForeColor(std::uint32_t color);
    void setBackColor(std::uint32_t color);
    std::uint32_t backColor() const { return mBackColor; }
    std::uint32_t foreColor() const { return mForeColor; }

    // Twips geometry, kept as the single-precision values the layout computed.
    void setTwipsGeometry(float left, float top, float width, float height);
    float twipsLeft() const { return mLeft; }
    float twipsTop() const { return mTop; }
    float twipsWidth() const { return mWidth; }
    float twipsHeight() const { return mHeight; }

    double textWidth(const QString &text) const; // twips
    double textHeight() const; // twips, one line

    void setCurrentX(double x) { mCurrentX = x; }

    // Clears the surface and moves the drawing position to the top left.
    void cls();
    // Draws `text` at the drawing position, then moves the position to the
    // left edge one text line lower.
    void print(const QString &text);

    const QList<Printed> &printed() const { return mItems; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QRect itemRect(const Printed &item) const;
    void pushChanges();

    QList<Printed> mItems;
    QList<Printed> mOnScreen;
    bool mPushPending = false;
    double mCurrentX = 0;
    double mCurrentY = 0;
    std::uint32_t mForeColor = 0x00FFFFFF;
    std::uint32_t mBackColor = 0;
    float mLeft = 0;
    float mTop = 0;
    float mWidth = 0;
    float mHeight = 0;
};
