// The Qt preview window.
#include "PreviewWindow.h"

#include "ffbind/FFUtils.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <utility>

TPreviewWidget::TPreviewWidget(std::function<void()> onClosed)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      OnClosed(std::move(onClosed)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPreviewWidget::SetPicture(const QImage& picture) {
    Picture = picture;
    update();
}

void TPreviewWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    painter.drawImage(QPoint(0, 0), Picture);
}

// The picture works as a title bar: grabbing it drags the window.
void TPreviewWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    // The window system moves the window where it can (under Wayland only it may); elsewhere
    // the window follows the mouse.
    DraggedBySystem = windowHandle() && windowHandle()->startSystemMove();
    DragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
    event->accept();
}

void TPreviewWidget::mouseMoveEvent(QMouseEvent* event) {
    if (DraggedBySystem || !(event->buttons() & Qt::LeftButton))
        return QWidget::mouseMoveEvent(event);
    move(event->globalPosition().toPoint() - DragOffset);
    event->accept();
}

void TPreviewWidget::closeEvent(QCloseEvent* event) {
    event->accept();
    if (OnClosed)
        OnClosed();
}

TPreviewWindowQt::TPreviewWindowQt(std::function<void()> onClosed)
    : Widget(new TPreviewWidget(std::move(onClosed))) {}

TPreviewWindowQt::~TPreviewWindowQt() {
    delete Widget.data();
}

void TPreviewWindowQt::ShowPicture(const TBitmap24& picture, const std::string& caption) {
    if (!Widget)
        return;
    // The bitmap belongs to the engine and changes with the next picture: keep a copy.
    const QImage image = QImage(picture.Data(), picture.Width(), picture.Height(), picture.Stride(),
                                QImage::Format_BGR888)
                             .copy();
    if (!Shown) {
        Shown = true;
        Widget->setFixedSize(picture.Width(), picture.Height());
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(0, 0), Widget->size());
            frame.moveCenter(screen->availableGeometry().center());
            Widget->move(frame.topLeft());
        }
        Widget->show();
    }
    Widget->setWindowTitle(QString::fromStdString(caption));
    Widget->SetPicture(image);
}

TPreviewWindowFactory TPreviewWindowQt::Factory() {
    return [](std::function<void()> onClosed) -> std::unique_ptr<TPreviewWindow> {
        return std::make_unique<TPreviewWindowQt>(std::move(onClosed));
    };
}
