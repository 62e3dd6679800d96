#pragma once
// JPEG pictures decoded with libjpeg into images the window can draw.
#include <QByteArray>
#include <QImage>
#include <QString>

namespace vn {

// Decodes a complete baseline or progressive JPEG. A null image when the bytes are not a JPEG,
// are cut short, or make libjpeg warn at all: a banner is either whole or not shown.
QImage DecodeJpeg(const QByteArray& bytes);

// Reads the file (a ":/" resource path works too) and decodes it; a null image on any failure.
QImage LoadJpeg(const QString& path);

}  // namespace vn
