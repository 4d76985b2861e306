// The options dialog's waveform: the file's sound as a peak envelope over its whole length (on a
// decibel scale), with the slider's position, the Start and End marks (their times beside them)
// and the selection shaded. Works in the slider's positions. A click moves the position, dragging a
// mark moves the mark; with the focus, Left/Right move the position by 10 ms (Shift: 1 s), "[" and
// "]" set Start and End there, Home/End jump and Space asks to play.
#ifndef SOUNDPICK_APP_WAVEFORMSTRIP_H
#define SOUNDPICK_APP_WAVEFORMSTRIP_H

#include "probe/SoundEnvelope.h"

#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>

class TWaveformStrip : public QWidget {
    Q_OBJECT
public:
    explicit TWaveformStrip(QWidget* parent = nullptr);

    // The slider's range (0 to maximum) and the time of one of its steps.
    void SetScale(int maximum, int64_t scaleUs);
    // The envelope drawn; bins may keep arriving (call update()). Null draws nothing.
    void SetEnvelope(std::shared_ptr<const TSoundEnvelope> envelope);
    void SetPosition(int position);
    // The marks the user has set; the range between them is shaded when it runs forward.
    void SetMarks(std::optional<int> start, std::optional<int> end);

    // Where a position is drawn, and the position under an x.
    int XOf(int position) const;
    int PositionAt(int x) const;

signals:
    void positionPicked(int position);
    void startDragged(int position);
    void endDragged(int position);
    void startAtPosition();
    void endAtPosition();
    void playRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class TDrag { None, Position, Start, End };
    void DrawEnvelope(QPainter& painter) const;
    void DrawMark(QPainter& painter, int position, const QColor& colour, Qt::Alignment side) const;
    void MoveTo(TDrag what, int position);
    int StepsOf(int64_t timeUs) const; // at least one step

    std::shared_ptr<const TSoundEnvelope> Envelope;
    int Maximum = 0;
    int64_t ScaleUs = 1;
    int Position = 0;
    std::optional<int> Start;
    std::optional<int> End;
    TDrag Dragging = TDrag::None;
};

#endif
