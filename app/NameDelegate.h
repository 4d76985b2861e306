// Draws a file-name cell of the task list, eliding a long name in its middle so that its end
// (the "_(new)" mark and the extension) stays in view.
#ifndef SOUNDPICK_APP_NAMEDELEGATE_H
#define SOUNDPICK_APP_NAMEDELEGATE_H

#include <QStyledItemDelegate>

class TNameDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

#endif
