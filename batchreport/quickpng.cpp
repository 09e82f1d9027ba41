#include "quickpng.h"

#include <csetjmp>
#include <png.h>
#include <zlib.h>

namespace {

void append(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<QByteArray *>(png_get_io_ptr(png))
        ->append(reinterpret_cast<const char *>(data), static_cast<int>(length));
}

// libpng reports a failure by a long jump back into quickPng, so nothing
// between its setjmp and the end of the writing owns memory of its own.
bool write(const QImage &image, QByteArray *out)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, append, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()),
                 static_cast<png_uint_32>(image.height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, Z_BEST_SPEED);
    png_write_info(png, info);
    // Format_RGB32 holds 0xffRRGGBB words: the fourth byte is dropped.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
#else
    png_set_filler(png, 0, PNG_FILLER_BEFORE);
#endif
    for (int y = 0; y < image.height(); ++y)
        png_write_row(png, image.constScanLine(y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

QByteArray quickPng(const QImage &image)
{
    const QImage opaque = image.format() == QImage::Format_RGB32
                              ? image
                              : image.convertToFormat(QImage::Format_RGB32);
    QByteArray bytes;
    bytes.reserve(64 * 1024);
    if (!write(opaque, &bytes))
        return {};
    return bytes;
}
