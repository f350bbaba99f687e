// Open Dithered: its entries follow Open, and Convert after it gives the converter's text for
// the same method.

#include "conversion/whole_picture.h"
#include "ctext/c_array_writer.h"
#include "harness.h"

#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <gtest/gtest.h>

using namespace window_test;

namespace {

constexpr std::array kEntries{"mOpenDithered_none", "mOpenDithered_floyd-steinberg",
                              "mOpenDithered_atkinson", "mOpenDithered_bayer"};

bool entriesEnabled(const Harness& h, bool enabled) {
    for (const char* entry : kEntries) {
        if (h.action(entry)->isEnabled() != enabled) {
            return false;
        }
    }
    return true;
}

// A grey ramp across, darker downwards, with a coloured band: every level, no flat area.
QString ramp(const QTemporaryDir& dir) {
    std::vector<std::vector<std::uint32_t>> rows(6, std::vector<std::uint32_t>(29));
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 29; ++x) {
            const auto grey = static_cast<std::uint32_t>(255 * x / 28 * (8 - y) / 8);
            rows[y][x] = y == 3 ? grey << 8 : grey * 0x010101u;
        }
    }
    const QString file = dir.filePath(QStringLiteral("ramp.bmp"));
    writeBitmap(pictureOf(rows), file);
    return file;
}

} // namespace

TEST(OpenDithered, EntriesAreAvailableExactlyWhenOpenIs) {
    QTemporaryDir dir;
    Harness h;
    EXPECT_TRUE(entriesEnabled(h, true));
    h.choose("mOpenDithered_bayer", ""); // a cancel changes nothing
    EXPECT_EQ(h.menu(), kAtStart);
    EXPECT_TRUE(entriesEnabled(h, true));
    ASSERT_EQ(h.menuInDialogs().size(), 1u);
    EXPECT_EQ(h.menuInDialogs()[0], kNone);
    h.choose("mOpenDithered_bayer", ramp(dir));
    EXPECT_EQ(h.menu(), kOpened);
    EXPECT_TRUE(entriesEnabled(h, false));
    h.choose("mOpenDithered_atkinson", ramp(dir)); // used up with Open: no dialog
    EXPECT_EQ(h.requests().size(), 2u);

    Harness plain;
    plain.choose("mOpen", ramp(dir));
    EXPECT_TRUE(entriesEnabled(plain, false));
}

TEST(OpenDithered, ConvertGivesTheConvertersTextForTheMethod) {
    QTemporaryDir dir;
    const QString file = ramp(dir);
    std::vector<std::string> texts;
    for (const char* entry : kEntries) {
        const auto method =
            imaging::ditherNamed(std::string_view(entry).substr(sizeof("mOpenDithered_") - 1));
        ASSERT_TRUE(method);
        imaging::NoProgress none;
        const auto converted = conversion::convertFile(QFile::encodeName(file).toStdString(),
                                                       {imaging::RowLayout::Packed, *method}, none,
                                                       conversion::readWholePicture);
        ASSERT_TRUE(std::holds_alternative<imaging::Planes>(converted));
        Harness h;
        h.choose(entry, file);
        EXPECT_EQ(h.field("Text4")->text(), QStringLiteral("6"));
        h.choose("mConvert");
        EXPECT_EQ(h.paneText(), ctext::writeArrays(std::get<imaging::Planes>(converted))) << entry;
        texts.push_back(h.paneText());
    }
    // The methods differ on this picture, so the entries cannot all be plain Open.
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(std::unique(texts.begin(), texts.end()), texts.end());
}
