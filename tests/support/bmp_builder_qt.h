#pragma once
// The bitmap builder for tests that hold files as QByteArray.

#include "support/bmp_builder.h"

#include <QByteArray>

namespace testing_support {

// makeBmpBytes() as a QByteArray.
QByteArray makeBmp(int width, int height, const std::vector<std::uint32_t>& values,
                   const BmpLayout& layout);

} // namespace testing_support
