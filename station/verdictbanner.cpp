#include "verdictbanner.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>

namespace {

const QColor passColour(27, 120, 45);
const QColor failColour(180, 30, 30);
constexpr int margin = 16;

QString failedLine(const CheckResult &c)
{
    if (c.isText())
        return QStringLiteral("%1: %2 (%3)")
            .arg(c.name, c.text.isEmpty() ? QStringLiteral("none") : c.text, c.note);
    const QString value =
        c.valueText() + (c.unit.isEmpty() ? QString() : QLatin1Char(' ') + c.unit);
    const QString limit =
        c.limitText() + (c.unit.isEmpty() ? QString() : QLatin1Char(' ') + c.unit);
    return QStringLiteral("%1: %2, limit %3").arg(c.name, value, limit);
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

// A quarter of the map's height at least, and room for every failed check
// up to most of it.
void VerdictBanner::place()
{
    QWidget *map = parentWidget();
    if (!map)
        return;
    QFont text = font();
    text.setPixelSize(detailPixels());
    QFont unit = text;
    unit.setBold(true);
    unit.setPixelSize(std::max(detailPixels(), wordPixels() / 2));
    QFont word = text;
    word.setBold(true);
    word.setPixelSize(wordPixels());
    const int column =
        QFontMetrics(unit).lineSpacing() +
        QFontMetrics(text).lineSpacing() * int(std::max<qsizetype>(0, detail.size() - 1));
    const int quarter = (map->height() + 3) / 4;
    const int needed = 2 * margin + std::max(QFontMetrics(word).height(), column);
    const int height = std::min(std::max(quarter, needed), map->height() * 3 / 4);
    setGeometry(0, 0, map->width(), std::max(quarter, height));
    update();
}

void VerdictBanner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), pass ? passColour : failColour);
    painter.setPen(Qt::white);

    QFont word = font();
    word.setBold(true);
    word.setPixelSize(wordPixels());
    painter.setFont(word);
    const QString verdict = pass ? QStringLiteral("PASS") : QStringLiteral("FAIL");
    const QFontMetrics wordMetrics(word);
    const QRect wordBox(margin, margin, wordMetrics.horizontalAdvance(verdict) + margin,
                        wordMetrics.height());
    painter.drawText(wordBox, Qt::AlignLeft | Qt::AlignTop, verdict);

    // The unit beside the word, the failed checks below it and to its right.
    QFont text = font();
    text.setPixelSize(detailPixels());
    const QFontMetrics metrics(text);
    const int left = wordBox.right() + 2 * margin;
    const int width = std::max(0, this->width() - left - margin);
    QFont unit = text;
    unit.setBold(true);
    unit.setPixelSize(std::max(detailPixels(), wordPixels() / 2));
    painter.setFont(unit);
    const QFontMetrics unitMetrics(unit);
    int y = margin;
    if (!detail.isEmpty()) {
        painter.drawText(QRect(left, y, width, unitMetrics.height()), Qt::AlignLeft | Qt::AlignTop,
                         unitMetrics.elidedText(detail.first(), Qt::ElideRight, width));
        y += unitMetrics.lineSpacing();
    }
    painter.setFont(text);
    const int bottom = height() - margin;
    for (int i = 1; i < detail.size(); ++i) {
        const bool last = y + 2 * metrics.lineSpacing() > bottom;
        const QString line =
            last && i < detail.size() - 1 ? tr("… and %1 more").arg(detail.size() - i) : detail[i];
        painter.drawText(QRect(left, y, width, metrics.height()), Qt::AlignLeft | Qt::AlignTop,
                         metrics.elidedText(line, Qt::ElideRight, width));
        y += metrics.lineSpacing();
        if (last)
            break;
    }
}
