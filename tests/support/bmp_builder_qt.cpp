#include "support/bmp_builder_qt.h"

namespace testing_support {

QByteArray makeBmp(int width, int height, const std::vector<std::uint32_t>& values,
                   const BmpLayout& layout) {
    const Bytes bytes = makeBmpBytes(width, height, values, layout);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

} // namespace testing_support
