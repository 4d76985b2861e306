// The "Progress" cell's bar.
#include "ProgressDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

#include <algorithm>

int TProgressDelegate::PercentOf(const QString& text) {
    if (!text.endsWith(u'%'))
        return -1;
    bool isNumber = false;
    const int percent = text.chopped(1).toInt(&isNumber);
    return isNumber ? std::clamp(percent, 0, 100) : -1;
}

void TProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    const int percent = PercentOf(index.data(Qt::DisplayRole).toString());
    if (percent < 0) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The row's own background (selection included) first, then the bar, then the text.
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, widget);

    const QRect frame = option.rect.adjusted(2, 2, -2, -2);
    QRect bar = frame;
    bar.setWidth(frame.width() * percent / 100);
    painter->save();
    painter->setPen(option.palette.color(QPalette::Mid));
    painter->drawRect(frame.adjusted(0, 0, -1, -1));
    QColor fill = option.palette.color(QPalette::Highlight);
    fill.setAlpha(110);
    painter->fillRect(bar, fill);
    painter->setPen(option.palette.color(QPalette::Text));
    painter->drawText(frame, Qt::AlignCenter, index.data(Qt::DisplayRole).toString());
    painter->restore();
}
