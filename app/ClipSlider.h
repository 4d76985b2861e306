// The options dialog's time slider: a position in steps of a power-of-ten number of
// microseconds, with the clip's selection drawn along its groove.
#ifndef SOUNDPICK_APP_CLIPSLIDER_H
#define SOUNDPICK_APP_CLIPSLIDER_H

#include <QSlider>

#include <cstdint>

class TClipSlider : public QSlider {
    Q_OBJECT
public:
    static constexpr int MaxSteps = 32767;
    static constexpr int WidthPx = 225;

    explicit TClipSlider(QWidget* parent = nullptr);

    // Sets the scale and range for an input of the given duration (-1 when unknown): the
    // smallest power of ten, at least 10, that needs no more than MaxSteps steps; line and page
    // sizes and ticks follow the range. The position goes to 0.
    void SetUpForDuration(int64_t durationUs);
    int64_t ScaleUs() const { return Scale; }
    // The time a position stands for.
    int64_t PositionUs(int position) const { return position * Scale; }

    int SelStart() const { return SelectionStart; }
    int SelEnd() const { return SelectionEnd; }
    void SetSelStart(int position);
    void SetSelEnd(int position);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int64_t Scale = 10;
    int SelectionStart = 0;
    int SelectionEnd = 0;
};

#endif
