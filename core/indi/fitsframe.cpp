// FITS decoding through CFITSIO's in-memory files.
#include "core/indi/fitsframe.h"

#include <fitsio.h>

#include <cmath>

namespace {

std::string cfitsioText(int status)
{
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    return text;
}

// Largest frame accepted: 64 megapixels a plane (a 2 GB buffer of floats).
constexpr long long kMaxPixels = 64LL * 1024 * 1024;
// A FITS file is read and written in records of this many bytes.
constexpr size_t kRecordBytes = 2880;

}  // namespace

bool decodeFits(const void* data, size_t size, CameraFrame& frame, std::string& error)
{
    if (!data || size == 0) {
        error = "FITS: empty frame";
        return false;
    }
    // CFITSIO reads the buffer in place; READONLY never writes or grows it.
    // It reads whole 2880-byte records, the last one too: a frame that does
    // not end on a record (a writer that leaves out the padding) is copied
    // into one that does, the padding zero, so that nothing past its end is read.
    void* buffer = const_cast<void*>(data);
    size_t bufferSize = size;
    std::vector<unsigned char> padded;
    if (size % kRecordBytes != 0) {
        padded.assign(static_cast<const unsigned char*>(data), static_cast<const unsigned char*>(data) + size);
        padded.resize(size + (kRecordBytes - size % kRecordBytes), 0);
        buffer = padded.data();
        bufferSize = padded.size();
    }
    fitsfile* file = nullptr;
    int status = 0;
    if (fits_open_memfile(&file, "frame.fits", READONLY, &buffer, &bufferSize, 0, nullptr, &status)) {
        error = "FITS: " + cfitsioText(status);
        return false;
    }
    struct Closer {
        fitsfile* f;
        ~Closer()
        {
            int s = 0;
            fits_close_file(f, &s);
        }
    } closer{file};

    int bitpix = 0, naxis = 0;
    long naxes[3] = {0, 0, 0};
    if (fits_get_img_param(file, 3, &bitpix, &naxis, naxes, &status)) {
        error = "FITS: " + cfitsioText(status);
        return false;
    }
    const long planes = naxis == 3 ? naxes[2] : 1;
    if (naxis < 2 || naxis > 3 || (naxis == 3 && planes != 1 && planes != 3)) {
        error = "FITS: NAXIS = " + std::to_string(naxis) +
                (naxis == 3 ? " with NAXIS3 = " + std::to_string(planes) : std::string()) +
                ", a frame needs 2 axes or 3 colour planes";
        return false;
    }
    const long width = naxes[0], height = naxes[1];
    // Each side bounded first, so that their product cannot overflow.
    if (width <= 0 || height <= 0 || width > kMaxPixels || height > kMaxPixels || width * height > kMaxPixels) {
        error = "FITS: a frame of " + std::to_string(width) + " x " + std::to_string(height) + " pixels";
        return false;
    }

    const long long count = width * height * planes;
    // CFITSIO reads an in-memory file as far as the header says, past the
    // end of the buffer when the data is cut short (a blob truncated on its
    // way): the data must be there whole before it is read.
    LONGLONG headStart = 0, dataStart = 0, dataEnd = 0;
    if (fits_get_hduaddrll(file, &headStart, &dataStart, &dataEnd, &status)) {
        error = "FITS: " + cfitsioText(status);
        return false;
    }
    const long long dataBytes = count * (bitpix < 0 ? -bitpix : bitpix) / 8;
    if (dataStart < 0 || dataStart > (long long)size || dataBytes > (long long)size - dataStart) {
        error = "FITS: the header announces " + std::to_string(dataBytes) + " bytes of data, the frame holds " +
                std::to_string(dataStart <= (long long)size ? (long long)size - dataStart : 0);
        return false;
    }
    std::vector<float> all(size_t(count), 0.0f);
    int anyNull = 0;
    float nullValue = 0.0f;
    if (fits_read_img(file, TFLOAT, 1, count, &nullValue, all.data(), &anyNull, &status)) {
        error = "FITS: " + cfitsioText(status);
        return false;
    }

    char rowOrder[FLEN_VALUE] = {};
    int keyStatus = 0;
    fits_read_key(file, TSTRING, "ROWORDER", rowOrder, nullptr, &keyStatus);
    const bool bottomUp = keyStatus == 0 && std::string(rowOrder) == "BOTTOM-UP";

    CameraFrame out;
    out.width = int(width);
    out.height = int(height);
    out.values.assign(size_t(width * height), 0.0f);
    const size_t planeSize = size_t(width * height);
    for (long y = 0; y < height; ++y) {
        const long srcRow = bottomUp ? height - 1 - y : y;
        for (long x = 0; x < width; ++x) {
            const size_t src = size_t(srcRow * width + x);
            float v = all[src];
            if (planes == 3)
                v = (v + all[src + planeSize] + all[src + 2 * planeSize]) / 3.0f;
            if (!std::isfinite(v))  // a blank pixel of a floating-point frame
                v = 0.0f;
            out.values[size_t(y * width + x)] = v;
        }
    }
    frame = std::move(out);
    return true;
}
