#include "verdictbanner.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>

namespace {

const QColor passColour(27, 120, 45);
const QColor failColour(180, 30, 30);
constexpr int margin = 16;

// A failed check as the banner lists it: its name, and its value against
// its limit after a tab.
QString failedLine(const CheckResult &c)
{
    if (c.isText())
        return QStringLiteral("%1\t%2").arg(c.name, c.text.isEmpty() ? c.note : c.text);
    const QString unit = c.unit.isEmpty() ? QString() : QLatin1Char(' ') + c.unit;
    return QStringLiteral("%1\t%2%3 (%4%3)").arg(c.name, c.valueText(), unit, c.limitText());
}

} // namespace

VerdictBanner::VerdictBanner(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("verdictBanner"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

void VerdictBanner::attachTo(QWidget *map)
{
    setParent(map);
    map->installEventFilter(this);
    place();
}

void VerdictBanner::showVerdict(const StationRun &run)
{
    pass = run.passed();
    detail.clear();
    detail << QStringLiteral("%1 · attempt %2").arg(run.unit).arg(run.attempt);
    for (const CheckResult &c : run.report.checks)
        if (c.verdict == Verdict::Fail)
            detail << failedLine(c);
    place();
    raise();
    show();
    update();
}

void VerdictBanner::clearVerdict()
{
    hide();
}

bool VerdictBanner::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        place();
    return QWidget::eventFilter(watched, event);
}

int VerdictBanner::wordPixels() const
{
    const int quarter = parentWidget() ? parentWidget()->height() / 4 : 120;
    return std::max(24, quarter * 55 / 100);
}

int VerdictBanner::detailPixels() const
{
    const int quarter = parentWidget() ? parentWidget()->height() / 4 : 120;
    return std::clamp(quarter / 7, 13, 40);
}

QFont VerdictBanner::wordFont() const
{
    QFont word = font();
    word.setBold(true);
    word.setPixelSize(wordPixels());
    return word;
}

QFont VerdictBanner::detailFont() const
{
    QFont text = font();
    text.setPixelSize(detailPixels());
    return text;
}

// A quarter of the map's height at least, and room for every failed check
// below the verdict up to most of it.
void VerdictBanner::place()
{
    QWidget *map = parentWidget();
    if (!map)
        return;
    const int checks = std::max(0, int(detail.size()) - 1);
    const int needed = 2 * margin + QFontMetrics(wordFont()).height() +
                       QFontMetrics(detailFont()).lineSpacing() * checks;
    const int quarter = (map->height() + 3) / 4;
    setGeometry(0, 0, map->width(), std::max(quarter, std::min(needed, map->height() * 3 / 4)));
    update();
}

void VerdictBanner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), pass ? passColour : failColour);
    painter.setPen(Qt::white);

    // The word, with the unit beside it; the failed checks below both.
    const QFont word = wordFont();
    painter.setFont(word);
    const QString verdict = pass ? QStringLiteral("PASS") : QStringLiteral("FAIL");
    const QFontMetrics wordMetrics(word);
    const QRect wordBox(margin, margin, wordMetrics.horizontalAdvance(verdict),
                        wordMetrics.height());
    painter.drawText(wordBox, Qt::AlignLeft | Qt::AlignVCenter, verdict);

    const QFont text = detailFont();
    const int left = wordBox.right() + 2 * margin;
    const int unitWidth = std::max(0, this->width() - left - margin);
    if (!detail.isEmpty()) {
        QFont unit = text;
        unit.setBold(true);
        unit.setPixelSize(std::max(detailPixels(), wordPixels() / 2));
        // The unit shrinks to fit beside the word, down to the checks' size.
        while (unit.pixelSize() > detailPixels() &&
               QFontMetrics(unit).horizontalAdvance(detail.first()) > unitWidth)
            unit.setPixelSize(unit.pixelSize() - 1);
        painter.setFont(unit);
        painter.drawText(QRect(left, wordBox.top(), unitWidth, wordBox.height()),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         QFontMetrics(unit).elidedText(detail.first(), Qt::ElideRight, unitWidth));
    }

    painter.setFont(text);
    const QFontMetrics metrics(text);
    const int width = std::max(0, this->width() - 2 * margin);
    const int bottom = height() - margin;
    int y = wordBox.bottom() + 1;
    for (int i = 1; i < detail.size(); ++i) {
        const bool last = y + 2 * metrics.lineSpacing() > bottom;
        const QString line = last && i < detail.size() - 1
                                 ? tr("… and %1 more failed checks").arg(detail.size() - i)
                                 : detail[i];
        // The value and its limit in full, the name in what room is left.
        const QString name = line.section(QLatin1Char('\t'), 0, 0);
        const QString figure = line.section(QLatin1Char('\t'), 1);
        const int figureWidth = std::min(width, metrics.horizontalAdvance(figure));
        painter.drawText(QRect(margin + width - figureWidth, y, figureWidth, metrics.height()),
                         Qt::AlignRight | Qt::AlignTop, figure);
        const int nameWidth = std::max(0, width - figureWidth - margin);
        painter.drawText(QRect(margin, y, nameWidth, metrics.height()),
                         Qt::AlignLeft | Qt::AlignTop,
                         metrics.elidedText(name, Qt::ElideRight, nameWidth));
        y += metrics.lineSpacing();
        if (last)
            break;
    }
}
