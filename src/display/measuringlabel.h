#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>

// A label that sizes itself to its caption, one text line per CR LF-separated
// piece, each line as tall as the line advance a PictureBox in the same font
// uses. The display keeps it hidden and reads its height for the layout.
class MeasuringLabel : public QWidget
{
    Q_OBJECT

public:
    enum Alignment { LeftJustify = 0, RightJustify = 1, Center = 2 };

    explicit MeasuringLabel(QWidget *parent = nullptr);

    QString caption() const { return mCaption; }
    void setCaption(const QString &caption);

    int alignment() const { return mAlignment; }
    void setAlignment(int alignment);

    std::uint32_t foreColor() const { return mForeColor; }
    void setForeColor(std::uint32_t color) { mForeColor = color; }
    std::uint32_t backColor() const { return mBackColor; }
    void setBackColor(std::uint32_t color) { mBackColor = color; }

    // Twips geometry; width and height follow the caption and font.
    float twipsLeft() const { return mLeft; }
    float twipsTop() const { return mTop; }
    float twipsWidth() const { return mWidth; }
    float twipsHeight() const { return mHeight; }
    void setTwipsLeft(float left) { mLeft = left; }
    void setTwipsTop(float top) { mTop = top; }
    void setTwipsWidth(float width) { mWidth = width; }

protected:
    void changeEvent(QEvent *event) override;

private:
    void autoSize();

    QString mCaption;
    int mAlignment = Center;
    std::uint32_t mForeColor = 0x00FFFFFF;
    std::uint32_t mBackColor = 0;
    float mLeft = 0;
    float mTop = 0;
    float mWidth = 0;
    float mHeight = 0;
};
