#ifndef VANTOSCOPE_BATCHREPORT_QUICKPNG_H
#define VANTOSCOPE_BATCHREPORT_QUICKPNG_H

#include <QByteArray>
#include <QImage>

// An opaque plot as PNG bytes, made for speed: three bytes a pixel, no
// row filter and the fastest deflate. A plot is mostly flat colour, which
// that keeps small; a page of sixty of them is encoded in a fraction of the
// time Qt's writer takes, with its filter search. Empty if libpng fails.
QByteArray quickPng(const QImage &image);

#endif
