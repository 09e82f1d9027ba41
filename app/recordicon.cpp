#include "recordicon.h"

#include <QIconEngine>
#include <QPainter>

namespace {

class RecordIconEngine : public QIconEngine
{
public:
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal side = qMin(rect.width(), rect.height());
        if (side <= 0)
            return;
        const QRectF square(rect.x() + (rect.width() - side) / 2.0,
                            rect.y() + (rect.height() - side) / 2.0, side, side);
        const bool disabled = mode == QIcon::Disabled;
        const QColor red = disabled ? QColor(150, 150, 150) : QColor(220, 30, 30);
        const QColor ring = disabled             ? QColor(170, 170, 170)
                            : state == QIcon::On ? red
                                                 : QColor(90, 90, 90);
        // At least a pixel of ring at 16 px, an eighth of the side above.
        const qreal ringWidth = qMax<qreal>(1.0, side / 12.0);

        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(ring, ringWidth));
        painter->setBrush(Qt::NoBrush);
        const qreal inset = ringWidth / 2.0 + side / 32.0;
        painter->drawEllipse(square.adjusted(inset, inset, -inset, -inset));
        painter->setPen(Qt::NoPen);
        painter->setBrush(red);
        const qreal disc = side * 0.26;
        painter->drawEllipse(square.center(), disc, disc);
        painter->restore();
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap picture(size);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return picture;
    }

    QIconEngine *clone() const override { return new RecordIconEngine; }
};

} // namespace

QIcon recordIcon()
{
    return QIcon(new RecordIconEngine);
}
