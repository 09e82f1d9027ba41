// Writes pictures of the map view with a synthetic scan, for looking at the
// rendering by eye: viewscreenshot <output-directory>
#include "syntheticscan.h"
#include "view/limapview.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>

namespace {

void write(LiMapView &view, const QColor &windowBackground, const QString &path)
{
    view.replot();
    QImage out(view.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(windowBackground);
    QPainter painter(&out);
    painter.drawImage(0, 0, view.canvasImage());
    painter.end();
    if (!out.save(path))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();

    LiMapView view;
    view.resize(1280, 800);
    view.setDecoderKind(Edition::DecoderKind::Stream);
    view.showScan(publishedScan(syntheticRoomScan(450)));
    view.setIndicatrixEnabled(true);
    // Pick the pillar.
    view.setSelectedAngle(31.0);
    write(view, QColor(0xf4, 0xf4, 0xf4), dir + QStringLiteral("/mapview-default.png"));

    QTemporaryDir settingsDir;
    QSettings settings(settingsDir.filePath(QStringLiteral("view.ini")), QSettings::IniFormat);
    view.saveSettings(settings);
    settings.setValue(QStringLiteral("Map/BackgroundColor"), QColor(Qt::black));
    view.loadSettings(settings);
    write(view, Qt::black, dir + QStringLiteral("/mapview-black.png"));

    view.setDecoderKind(Edition::DecoderKind::CommandProtocol);
    view.setScale(2.6);
    view.setConfidenceEnabled(true);
    view.showScan(publishedScan(syntheticRoomScan(4500), SensorScan::Family::CommandProtocol));
    write(view, Qt::black, dir + QStringLiteral("/mapview-confidence.png"));
    return 0;
}
