// Draws the task list's "Progress" cell as a bar behind its "NN%" text.
#ifndef SOUNDPICK_APP_PROGRESSDELEGATE_H
#define SOUNDPICK_APP_PROGRESSDELEGATE_H

#include <QStyledItemDelegate>

class TProgressDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The percentage a cell text shows, clamped to 0..100; -1 when it shows none.
    static int PercentOf(const QString& text);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

#endif
