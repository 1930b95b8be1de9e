// Decoding of picture bytes (covers, button images). JPEG and PNG go straight to
// libjpeg-turbo and libpng; GIF, BMP and ICO through Qt's readers. Every failure (empty,
// truncated, corrupt, unknown format, or larger than kMaxPictureSide either way) gives a
// null image; nothing is printed and nothing exits.
#pragma once

#include <QImage>

#include "util/types.h"

namespace newsbar {

// Pictures wider or taller than this are refused before any pixel is decoded, so a few
// bytes cannot ask for gigabytes.
inline constexpr int kMaxPictureSide = 4096;

enum class PictureFormat { Unknown, Jpeg, Png, Gif, Bmp, Ico };

// By the leading signature bytes.
PictureFormat SniffPictureFormat(const ByteSet& bytes);

QImage DecodeJpeg(const ByteSet& bytes);
QImage DecodePng(const ByteSet& bytes);
// GIF (first frame), BMP or ICO through Qt, with the same size limit.
QImage DecodeWithQt(const ByteSet& bytes, PictureFormat format);

// Any supported format, chosen by signature.
QImage DecodePicture(const ByteSet& bytes);

// What decoding a GIF/BMP/ICO will allocate, from its headers (for a GIF the whole
// logical screen); invalid when unreadable, or for a BMP beyond the limit.
QSize PictureSizeWithQt(const ByteSet& bytes, PictureFormat format);

}  // namespace newsbar
