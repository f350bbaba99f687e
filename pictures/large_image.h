#pragma once
// Pixel memory for whole pictures.
//
// The first touch of a fresh page is expensive on the machines we run on (a fault per 4 KiB
// page), so a picture's pixels are mapped on their own and advised to use huge pages where the
// system offers them.

#include <QImage>

namespace pictures {

// A width x height image in the given 32-bit format, pixels uninitialised; null when the
// memory cannot be had.
QImage makeLargeImage(int width, int height, QImage::Format format);

// Hands the whole pages past the first `keep` bytes of the image's pixels back to the system,
// for an owner that reads and writes nothing there again; the image still owns its memory.
void discardPixelsAfter(const QImage& image, std::size_t keep);

} // namespace pictures
