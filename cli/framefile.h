// The frames `quorvel analyse` measures: a saved 320 x 240 picture (BMP,
// PNG, PPM... whatever Qt's image readers take) read as 0xffRRGGBB pixels.
// Apart from the command so that the same loader can be fed bytes directly
// (tests/fuzz/frame.cpp).
#pragma once

#include <QImage>

#include <string>

#include "core/picture.h"

class QIODevice;

// Reads a frame from device as Format_RGB32; an indexed or grey image goes
// through its colour table. A frame whose size is not 320 x 240 is refused
// from its header, before it is decoded. Empty image and a message naming
// `name` when the bytes will not do.
QImage readFrame(QIODevice& device, const std::string& name, std::string& error);
// The same from the file at path, opened by its bytes.
QImage readFrameFile(const std::string& path, std::string& error);

// The picture the measurement reads over an image in Format_RGB32.
PixelView viewOf(const QImage& image);
