#include "tools/report/png_encoder.h"

#include <png.h>

namespace sorvik {

namespace {

void appendPng(png_structp png, png_bytep data, png_size_t size)
{
    static_cast<QByteArray *>(png_get_io_ptr(png))->append(reinterpret_cast<const char *>(data), int(size));
}

// libpng's own handlers would print to standard error; an error comes back as
// a jump to the frame that set it up, a warning changes nothing of the picture.
void pngError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// libpng reports an error by a jump back here: nothing in this frame needs a
// destructor run.
bool encodePng(const QImage &image, QByteArray *bytes)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    const bool grey = image.format() == QImage::Format_Grayscale8;
    png_set_write_fn(png, bytes, appendPng, nullptr);
    png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8, grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    if (!grey) {  // 0xffRRGGBB words, stored B, G, R, 0xff
        png_set_bgr(png);
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    }
    for (int y = 0; y < image.height(); ++y)
        png_write_row(png, image.constScanLine(y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

QByteArray pngBytes(const QImage &image)
{
    if (image.isNull())
        return QByteArray();
    const QImage pixels = image.format() == QImage::Format_Grayscale8 || image.format() == QImage::Format_RGB32
                              ? image : image.convertToFormat(QImage::Format_RGB32);
    QByteArray bytes;
    return encodePng(pixels, &bytes) ? bytes : QByteArray();
}

} // namespace sorvik
