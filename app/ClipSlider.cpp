// The options dialog's time slider.
#include "ClipSlider.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

TClipSlider::TClipSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setTickPosition(QSlider::TicksAbove);
    setFixedWidth(WidthPx);
}

void TClipSlider::SetUpForDuration(int64_t durationUs) {
    int64_t steps = 0;
    Scale = 1;
    do {
        Scale *= 10;
        steps = durationUs / Scale;
    } while (steps > MaxSteps);
    const int range = static_cast<int>(steps < 0 ? 0 : steps);
    // The tick count follows the slider's width, as the ticks have always been spaced.
    const int tickSlots = (WidthPx - 12) / 10;
    setTickInterval(tickSlots > 0 ? range / tickSlots : 0);
    setRange(0, range);
    const int lineSize = range <= 100 ? 1 : range <= 1000 ? 10 : range <= 10000 ? 100 : 1000;
    setSingleStep(lineSize);
    setPageStep(5 * lineSize);
    setValue(0);
}

void TClipSlider::SetSelStart(int position) {
    SelectionStart = position;
    update();
}

void TClipSlider::SetSelEnd(int position) {
    SelectionEnd = position;
    update();
}

void TClipSlider::paintEvent(QPaintEvent* event) {
    QSlider::paintEvent(event);
    if (SelectionEnd <= SelectionStart || maximum() <= minimum())
        return;
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const int span = groove.width() - handle.width();
    const int offset = groove.left() + handle.width() / 2;
    const auto x = [&](int value) {
        return offset + QStyle::sliderPositionFromValue(minimum(), maximum(), value, span);
    };
    QPainter painter(this);
    QColor band = palette().color(QPalette::Highlight);
    band.setAlpha(140);
    const int top = groove.center().y() - 2;
    painter.fillRect(QRect(QPoint(x(SelectionStart), top), QPoint(x(SelectionEnd), top + 4)), band);
}
