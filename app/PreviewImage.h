// The options dialog's preview: the picture at the slider's time, letterboxed into a black
// area; a click shows it at its own size in a window of its own.
#ifndef SOUNDPICK_APP_PREVIEWIMAGE_H
#define SOUNDPICK_APP_PREVIEWIMAGE_H

#include <QDialog>
#include <QImage>
#include <QWidget>

class TPreviewImage : public QWidget {
    Q_OBJECT
public:
    explicit TPreviewImage(QWidget* parent = nullptr);

    // Where a picture is drawn in an area: the full width, centred vertically, when it is
    // relatively wider, else the full height, centred horizontally; stretched into that.
    static QRect FitRect(const QSize& picture, const QSize& area);

    // An empty picture leaves the area black.
    void SetPicture(const QImage& picture);
    // Black with "no picture" written on it: the picture could not be had.
    void ShowNoPicture();
    const QImage& Picture() const { return Shown; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QImage Shown;
    bool NoPicture = false;
};

// The picture at its own size; a click, Enter or Escape closes it.
class TPictureWindow : public QDialog {
    Q_OBJECT
public:
    TPictureWindow(const QImage& picture, const QString& caption, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QImage Picture;
};

#endif
