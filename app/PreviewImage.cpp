// The options dialog's preview picture.
#include "PreviewImage.h"

#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

#include <cmath>

TPreviewImage::TPreviewImage(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::PointingHandCursor);
}

QRect TPreviewImage::FitRect(const QSize& picture, const QSize& area) {
    const double a = double(picture.width()) / area.width();
    const double b = double(picture.height()) / area.height();
    if (a >= b) {
        const int margin =
            static_cast<int>(std::lround((area.height() - picture.height() / a) / 2));
        return QRect(0, margin, area.width(), area.height() - 2 * margin);
    }
    const int margin = static_cast<int>(std::lround((area.width() - picture.width() / b) / 2));
    return QRect(margin, 0, area.width() - 2 * margin, area.height());
}

void TPreviewImage::SetPicture(const QImage& picture) {
    Shown = picture;
    NoPicture = false;
    update();
}

void TPreviewImage::ShowNoPicture() {
    Shown = QImage();
    NoPicture = true;
    update();
}

void TPreviewImage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (NoPicture) {
        painter.setPen(Qt::gray);
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("no picture"));
        return;
    }
    if (Shown.isNull() || Shown.width() == 0 || Shown.height() == 0)
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(FitRect(Shown.size(), size()), Shown);
}

void TPreviewImage::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

TPictureWindow::TPictureWindow(const QImage& picture, const QString& caption, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Picture(picture) {
    setWindowTitle(caption);
    setFixedSize(picture.size());
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void TPictureWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, Picture);
}

void TPictureWindow::mouseReleaseEvent(QMouseEvent*) {
    accept();
}

void TPictureWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}
