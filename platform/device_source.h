#pragma once
// A Qt device as the bitmap decoder's byte source.

#include "bitmap/source.h"

#include <QFileDevice>
#include <QIODevice>
#include <fcntl.h>
#include <string>
#include <utility>

namespace platform {

class DeviceSource final : public bitmap::ByteSource {
  public:
    // The data starts at the device's position now; `file` is the name its errors give.
    DeviceSource(QIODevice& device, std::string file)
        : m_device(device), m_file(std::move(file)), m_start(device.pos()) {}

    std::size_t read(std::span<std::uint8_t> data) override {
        std::size_t got = 0;
        while (got < data.size()) {
            const qint64 n = m_device.read(reinterpret_cast<char*>(data.data() + got),
                                           static_cast<qint64>(data.size() - got));
            if (n <= 0) {
                if (n < 0) {
                    m_error = base::Error{m_file, m_device.errorString().toStdString()};
                }
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        return got;
    }
    std::optional<std::uint64_t> remaining() const override {
        if (m_device.isSequential()) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(std::max<qint64>(0, m_device.size() - m_device.pos()));
    }
    std::optional<base::Error> error() const override { return m_error; }
    void willRead(std::uint64_t offset, std::uint64_t length) override {
        if (auto* file = qobject_cast<QFileDevice*>(&m_device); file && file->handle() >= 0) {
            ::posix_fadvise(file->handle(), m_start + static_cast<qint64>(offset),
                            static_cast<off_t>(length), POSIX_FADV_WILLNEED);
        }
    }
    bool seek(std::uint64_t offset) override {
        return !m_device.isSequential() && m_device.seek(m_start + static_cast<qint64>(offset));
    }

  private:
    QIODevice& m_device;
    std::string m_file;
    qint64 m_start;
    std::optional<base::Error> m_error;
};

} // namespace platform
