// The options dialog's waveform.
#include "WaveformStrip.h"

#include "UtilFuncs.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr int MarginPx = 4; // the ends of the time line stay clear of the frame
constexpr int GrabPx = 4;   // how near a mark a press takes the mark rather than the position
constexpr int64_t StepUs = 10000;
constexpr int64_t ShiftStepUs = 1000000;
// The strip's height spans this many decibels below full scale, so that quiet recordings and
// the tails of tracks still show.
constexpr double RangeDb = 60;

} // namespace

TWaveformStrip::TWaveformStrip(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMinimumHeight(40);
    setToolTip(QStringLiteral("Click to move the position, drag a mark to move it; "
                              "Left/Right, Home/End, [ and ] and Space with the focus here"));
}

void TWaveformStrip::SetScale(int maximum, int64_t scaleUs) {
    Maximum = std::max(maximum, 0);
    ScaleUs = std::max<int64_t>(scaleUs, 1);
    update();
}

void TWaveformStrip::SetEnvelope(std::shared_ptr<const TSoundEnvelope> envelope) {
    Envelope = std::move(envelope);
    update();
}

void TWaveformStrip::SetPosition(int position) {
    Position = position;
    update();
}

void TWaveformStrip::SetMarks(std::optional<int> start, std::optional<int> end) {
    Start = start;
    End = end;
    update();
}

int TWaveformStrip::XOf(int position) const {
    const int span = width() - 2 * MarginPx;
    return MarginPx + (Maximum > 0 ? static_cast<int>(int64_t{position} * span / Maximum) : 0);
}

int TWaveformStrip::PositionAt(int x) const {
    const int span = std::max(width() - 2 * MarginPx, 1);
    const int64_t position = (int64_t{x - MarginPx} * Maximum + span / 2) / span;
    return static_cast<int>(std::clamp<int64_t>(position, 0, Maximum));
}

int TWaveformStrip::StepsOf(int64_t timeUs) const {
    return static_cast<int>(std::max<int64_t>(timeUs / ScaleUs, 1));
}

void TWaveformStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    if (Start && End && *End > *Start) {
        QColor band = palette().color(QPalette::Highlight);
        band.setAlpha(70);
        painter.fillRect(QRect(QPoint(XOf(*Start), 0), QPoint(XOf(*End), height() - 1)), band);
    }
    DrawEnvelope(painter);
    if (Start)
        DrawMark(painter, *Start, QColor(0, 150, 0), Qt::AlignLeft);
    if (End)
        DrawMark(painter, *End, QColor(200, 0, 0), Qt::AlignRight);
    painter.setPen(palette().color(QPalette::Text));
    painter.drawLine(XOf(Position), 0, XOf(Position), height() - 1);
    painter.setPen(palette().color(hasFocus() ? QPalette::Highlight : QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

// Each column shows the loudest peak of the time it covers on a decibel scale, mirrored about the
// middle.
void TWaveformStrip::DrawEnvelope(QPainter& painter) const {
    if (!Envelope || Maximum <= 0)
        return;
    const int middle = height() / 2;
    const int halfHeight = middle - 2;
    painter.setPen(palette().color(QPalette::Highlight).darker(130));
    for (int x = MarginPx; x < width() - MarginPx; ++x) {
        const int64_t fromUs = int64_t{PositionAt(x)} * ScaleUs;
        const int64_t toUs = int64_t{PositionAt(x + 1)} * ScaleUs;
        const double peakDb = Envelope->PeakDb(fromUs, std::max(toUs, fromUs + 1));
        const double height = std::clamp((peakDb + RangeDb) / RangeDb, 0.0, 1.0);
        if (height <= 0)
            continue;
        const int extent = std::max(static_cast<int>(height * halfHeight), 1);
        painter.drawLine(x, middle - extent, x, middle + extent);
    }
}

void TWaveformStrip::DrawMark(QPainter& painter, int position, const QColor& colour,
                              Qt::Alignment side) const {
    const int x = XOf(position);
    painter.setPen(QPen(colour, 2));
    painter.drawLine(x, 0, x, height() - 1);
    // The time beside the mark, inside the strip: right of Start, left of End.
    const QString text = ClockMsText(int64_t{position} * ScaleUs);
    const int textWidth = painter.fontMetrics().horizontalAdvance(text) + 4;
    int left = side == Qt::AlignLeft ? x + 3 : x - 3 - textWidth;
    left = std::clamp(left, 1, std::max(width() - textWidth - 1, 1));
    const QRect box(left, side == Qt::AlignLeft ? 1 : height() - painter.fontMetrics().height() - 1,
                    textWidth, painter.fontMetrics().height());
    painter.fillRect(box, palette().color(QPalette::Base));
    painter.drawText(box, Qt::AlignCenter, text);
}

void TWaveformStrip::MoveTo(TDrag what, int position) {
    position = std::clamp(position, 0, Maximum);
    switch (what) {
    case TDrag::Start:
        emit startDragged(position);
        break;
    case TDrag::End:
        emit endDragged(position);
        break;
    case TDrag::Position:
        emit positionPicked(position);
        break;
    case TDrag::None:
        break;
    }
}

void TWaveformStrip::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || Maximum <= 0)
        return QWidget::mousePressEvent(event);
    const int x = event->position().toPoint().x();
    const auto near = [&](const std::optional<int>& mark) {
        return mark && std::abs(XOf(*mark) - x) <= GrabPx;
    };
    Dragging = near(End) ? TDrag::End : near(Start) ? TDrag::Start : TDrag::Position;
    MoveTo(Dragging, PositionAt(x));
}

void TWaveformStrip::mouseMoveEvent(QMouseEvent* event) {
    MoveTo(Dragging, PositionAt(event->position().toPoint().x()));
}

void TWaveformStrip::mouseReleaseEvent(QMouseEvent* event) {
    Dragging = TDrag::None;
    QWidget::mouseReleaseEvent(event);
}

void TWaveformStrip::keyPressEvent(QKeyEvent* event) {
    const int step = StepsOf(event->modifiers() & Qt::ShiftModifier ? ShiftStepUs : StepUs);
    switch (event->key()) {
    case Qt::Key_Left:
        return MoveTo(TDrag::Position, Position - step);
    case Qt::Key_Right:
        return MoveTo(TDrag::Position, Position + step);
    case Qt::Key_Home:
        return MoveTo(TDrag::Position, 0);
    case Qt::Key_End:
        return MoveTo(TDrag::Position, Maximum);
    case Qt::Key_BracketLeft:
        return emit startAtPosition();
    case Qt::Key_BracketRight:
        return emit endAtPosition();
    case Qt::Key_Space:
        return emit playRequested();
    default:
        QWidget::keyPressEvent(event);
    }
}
