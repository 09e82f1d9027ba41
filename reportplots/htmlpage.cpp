#include "htmlpage.h"

#include "plotkit.h"

#include <QGuiApplication>

namespace Html {

namespace {

// Void elements are closed with "/>" and only XML's own entities are used,
// so that the page parses as XML too.
const char style[] = R"(
body { font-family: sans-serif; color: #222; background: #fff; margin: 24px auto;
       max-width: 960px; padding: 0 16px; line-height: 1.4; }
h1 { font-size: 1.5em; margin: 0 0 4px; }
h2 { font-size: 1.15em; margin: 28px 0 8px; border-bottom: 1px solid #ddd; padding-bottom: 2px; }
.verdict { font-size: 2em; font-weight: bold; margin: 8px 0 16px; padding: 6px 14px;
           border-radius: 6px; display: inline-block; }
.verdict.pass { color: #fff; background: #2e7d32; }
.verdict.fail { color: #fff; background: #c62828; }
table { border-collapse: collapse; }
.facts th { text-align: left; font-weight: normal; color: #666; padding: 1px 16px 1px 0; }
.facts td { padding: 1px 0; }
.checks { width: 100%; font-size: 0.95em; }
.checks th, .checks td { padding: 4px 8px; border-bottom: 1px solid #e4e4e4; text-align: left;
                         vertical-align: top; }
.checks th { background: #f3f3f3; border-bottom: 1px solid #ccc; }
.checks td.value { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
.checks td.limits { white-space: nowrap; }
.checks td.verdict-cell { font-weight: bold; text-transform: uppercase; }
.checks tr.pass td.verdict-cell { color: #2e7d32; }
.checks tr.fail { background: #fdecea; }
.checks tr.fail td.verdict-cell { color: #c62828; }
.checks tr.skipped td { color: #999; }
.checks td.note { color: #555; }
.checks tr.skipped td.note { color: #999; font-style: italic; }
.notes li { margin-bottom: 4px; }
figure { margin: 0 0 24px; }
figure img { display: block; border: 1px solid #e4e4e4; max-width: 100%; height: auto; }
figcaption { color: #555; font-size: 0.9em; margin-top: 4px; max-width: 720px; }
)";

} // namespace

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString pageStart(const QString &title, const char *extraStyle)
{
    return QStringLiteral(
               "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n"
               // Nothing on the page may load anything, should a text slip through.
               "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
               "img-src data:; style-src 'unsafe-inline'\"/>\n"
               "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"/>\n") +
           QStringLiteral("<title>%1</title>\n").arg(escaped(title)) + QStringLiteral("<style>") +
           QString::fromUtf8(style) + QString::fromUtf8(extraStyle) +
           QStringLiteral("</style>\n</head>\n<body>\n");
}

QString pageEnd()
{
    return QStringLiteral("</body>\n</html>\n");
}

QString figure(const QImage &image, const QString &alt, const QString &caption, int pngQuality)
{
    return figure(Plot::pngData(image, pngQuality), image.size() / image.devicePixelRatio(), alt,
                  caption);
}

QString figure(const QByteArray &png, QSize size, const QString &alt, const QString &caption)
{
    return QStringLiteral("<figure><img src=\"data:image/png;base64,%1\" width=\"%2\" "
                          "height=\"%3\" alt=\"%4\"/>\n<figcaption>%5</figcaption></figure>\n")
        .arg(QString::fromLatin1(png.toBase64()))
        .arg(size.width())
        .arg(size.height())
        .arg(escaped(alt), escaped(caption));
}

std::unique_ptr<QCoreApplication> toolApplication(int &argc, char **argv, bool drawing)
{
    if (!drawing)
        return std::make_unique<QCoreApplication>(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The platform's start-up chatter (a missing runtime directory, say)
    // would break the one-line messages on standard error.
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    auto app = std::make_unique<QGuiApplication>(argc, argv);
    qInstallMessageHandler(previous);
    return app;
}

} // namespace Html
