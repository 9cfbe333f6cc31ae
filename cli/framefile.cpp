// Saved frames for `quorvel analyse`.
#include "cli/framefile.h"

#include <QFile>
#include <QImageReader>
#include <QIODevice>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

QImage readFrame(QIODevice& device, const std::string& name, std::string& error)
{
    QImageReader reader(&device);
    const QSize announced = reader.size();
    if (announced.isValid() &&
        (announced.width() != Picture::width || announced.height() != Picture::height)) {
        error = name + ": the frame is " + std::to_string(announced.width()) + "x" +
                std::to_string(announced.height()) + ", frames must be 320x240";
        return {};
    }
    QImage image = reader.read();
    if (image.isNull()) {
        error = name + ": cannot read the frame (" + reader.errorString().toStdString() + ")";
        return {};
    }
    if (image.width() != Picture::width || image.height() != Picture::height) {
        error = name + ": the frame is " + std::to_string(image.width()) + "x" +
                std::to_string(image.height()) + ", frames must be 320x240";
        return {};
    }
    return image.convertToFormat(QImage::Format_RGB32);
}

QImage readFrameFile(const std::string& path, std::string& error)
{
    // Opened by its bytes: a Linux file name need not be valid UTF-8, and a
    // QString made from one would name another file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": cannot read the frame (" + std::strerror(errno) + ")";
        return {};
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        error = path + ": cannot read the frame (" + file.errorString().toStdString() + ")";
        return {};
    }
    return readFrame(file, path, error);
}

PixelView viewOf(const QImage& image)
{
    return {reinterpret_cast<const uint32_t*>(image.constBits()), image.width(), image.height(),
            int(image.bytesPerLine() / 4)};
}
