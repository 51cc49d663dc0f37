#include "ui/LabelFit.h"

#include <QLabel>

namespace {
const qreal kStep = 0.25;         // points
const qreal kSmallestShare = 0.8; // of the label's own size

bool fits(const QLabel *label)
{
    return label->sizeHint().width() <= label->width();
}
} // namespace

void fitLabelsToWidth(QWidget *form)
{
    const QList<QLabel *> labels = form->findChildren<QLabel *>();
    for (QLabel *label : labels) {
        if (label->wordWrap() || fits(label))
            continue;
        QFont font = label->font();
        const qreal own = font.pointSizeF();
        if (own <= 0) // a font given in pixels is left as it was chosen
            continue;
        for (qreal size = own - kStep; size >= own * kSmallestShare; size -= kStep) {
            font.setPointSizeF(size);
            label->setFont(font);
            if (fits(label))
                break;
        }
    }
}
