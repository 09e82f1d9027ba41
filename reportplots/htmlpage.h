#ifndef VANTOSCOPE_REPORTPLOTS_HTMLPAGE_H
#define VANTOSCOPE_REPORTPLOTS_HTMLPAGE_H

#include <QByteArray>
#include <QCoreApplication>
#include <QImage>
#include <QSize>
#include <QString>
#include <memory>

// What the HTML reports share: one self-contained page in UTF-8 that loads
// nothing (no script, no stylesheet, font or image from elsewhere; a
// content security policy says so should a text slip through), one style,
// plots as PNG data URIs. The pages are also well-formed XML.
namespace Html {

QString escaped(const QString &text);
// Everything up to and including <body>; `title` is escaped here, and
// `extraStyle` follows the common style.
QString pageStart(const QString &title, const char *extraStyle = "");
QString pageEnd();
// The image at its size in CSS pixels (its size over its device pixel
// ratio), with its caption; `alt` and `caption` are escaped here.
// `pngQuality` as Plot::pngData takes it.
QString figure(const QImage &image, const QString &alt, const QString &caption,
               int pngQuality = -1);
// The same with the image encoded already, shown at `size` CSS pixels.
QString figure(const QByteArray &png, QSize size, const QString &alt, const QString &caption);

// The application of a command-line tool: one that can draw the plots off
// screen (a QGuiApplication on the offscreen platform, unless another is
// asked for) when `drawing`, else a QCoreApplication.
std::unique_ptr<QCoreApplication> toolApplication(int &argc, char **argv, bool drawing);

} // namespace Html

#endif
