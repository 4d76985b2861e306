// The Qt preview window of the engine's live preview: a small tool window, always on top,
// centred, whose client area is the size of the first picture; dragging the picture moves it.
// Install it once at start-up, on the main thread, before any task runs:
//     SetPreviewWindowFactory(TPreviewWindowQt::Factory());
// (ffbind/Previewer.h); without it the engine's preview ends at its first picture.
#ifndef SOUNDPICK_APP_PREVIEWWINDOW_H
#define SOUNDPICK_APP_PREVIEWWINDOW_H

#include "ffbind/Previewer.h"

#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QWidget>

#include <functional>

// The widget: shows its copy of the latest picture, reports the user's close.
class TPreviewWidget : public QWidget {
public:
    explicit TPreviewWidget(std::function<void()> onClosed);
    void SetPicture(const QImage& picture);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<void()> OnClosed;
    QImage Picture;
    QPoint DragOffset; // where the picture was grabbed, relative to the window's corner
    bool DraggedBySystem = false;
};

// The previewer's window over a TPreviewWidget.
class TPreviewWindowQt : public TPreviewWindow {
public:
    explicit TPreviewWindowQt(std::function<void()> onClosed);
    ~TPreviewWindowQt() override;
    void ShowPicture(const TBitmap24& picture, const std::string& caption) override;

    // The factory to install with SetPreviewWindowFactory.
    static TPreviewWindowFactory Factory();

private:
    QPointer<TPreviewWidget> Widget;
    bool Shown = false;
};

#endif
