#include "window/export_dialog.h"

#include "ctext/c_identifier.h"
#include "imaging/option_values.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFont>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace window {

imaging::Planes withRowLayout(const imaging::Planes& planes, imaging::RowLayout rows) {
    if (planes.layout == rows) {
        return planes;
    }
    imaging::Planes out = imaging::makePlanes(planes.width, planes.height, rows);
    const std::size_t from = planes.rowBits();
    const std::size_t to = out.rowBits();
    const auto width = static_cast<std::size_t>(planes.width);
    auto copy = [&](const std::vector<std::uint8_t>& in, std::vector<std::uint8_t>& result) {
        for (std::size_t y = 0; y < static_cast<std::size_t>(planes.height); ++y) {
            for (std::size_t x = 0; x < width; x += 8) {
                const std::size_t bits = std::min<std::size_t>(8, width - x);
                // The row's bits past its end are cut off, so padding stays zero.
                const unsigned byte =
                    imaging::eightBitsAt(in, y * from + x) & (0xFFu << (8 - bits));
                const std::size_t at = y * to + x;
                result[at / 8] |= static_cast<std::uint8_t>(byte >> (at % 8));
                if (at % 8 != 0 && at / 8 + 1 < result.size()) {
                    result[at / 8 + 1] |= static_cast<std::uint8_t>(byte << (8 - at % 8));
                }
            }
        }
    };
    copy(planes.dark, out.dark);
    copy(planes.light, out.light);
    if (!planes.mask.empty()) {
        out.mask.assign(out.planeBytes(), 0);
        copy(planes.mask, out.mask);
    }
    return out;
}

QString arrayNameProblem(const QString& name) {
    // The converter's rule and words, so that a name is taken or refused alike in both.
    const auto problem = ctext::nameProblem(name.toStdString());
    return problem ? QString::fromStdString(*problem) : QString();
}

ExportDialog::ExportDialog(std::shared_ptr<const imaging::Planes> packed, std::string source,
                           Action save, Action copy, QWidget* parent,
                           std::shared_ptr<Choices> remembered)
    : QDialog(parent), m_packed(std::move(packed)), m_source(std::move(source)),
      m_save(std::move(save)), m_copy(std::move(copy)), m_remembered(std::move(remembered)) {
    setObjectName(QStringLiteral("ExportDialog"));
    setWindowTitle(tr("Export C Code"));

    auto named = [](auto* widget, const char* name) {
        widget->setObjectName(QLatin1String(name));
        return widget;
    };
    m_layout = named(new QComboBox, "layout");
    m_layout->addItem(tr("Two planes, one bit a pixel"), int(ctext::Layout::Planes));
    m_layout->addItem(tr("8 × 8 tiles, 2 bits a pixel"), int(ctext::Layout::Gb));
    m_layout->addItem(tr("2 bits a pixel, 4 pixels a byte"), int(ctext::Layout::Packed2));
    m_layout->addItem(tr("4 bits a pixel, 2 pixels a byte"), int(ctext::Layout::Nibble4));
    m_layout->addItem(tr("Two planes in pages of 8 rows, a byte a column"),
                      int(ctext::Layout::Pages));
    m_layout->addItem(tr("LVGL image, format I2"), int(ctext::Layout::Lvgl));
    m_word = named(new QComboBox, "word");
    for (const int bits : {8, 16, 32}) {
        m_word->addItem(tr("%1 bits").arg(bits), bits);
    }
    m_tileOrder = named(new QComboBox, "tileOrder");
    m_tileOrder->addItem(tr("Rows"), int(ctext::TileOrder::Rows));
    m_tileOrder->addItem(tr("Columns"), int(ctext::TileOrder::Columns));
    m_tileOrder->addItem(tr("8 × 16, top then bottom"), int(ctext::TileOrder::Tall8x16));
    m_invert = named(new QCheckBox(tr("&Invert (white is 0, or a lit pixel is 1)")), "invert");
    m_bitOrder = named(new QComboBox, "bitOrder");
    m_bitOrder->addItem(tr("The layout's own"), int(ctext::BitOrder::Default));
    m_bitOrder->addItem(tr("First pixel in the top bits (msb)"), int(ctext::BitOrder::Msb));
    m_bitOrder->addItem(tr("First pixel in the low bits (lsb)"), int(ctext::BitOrder::Lsb));
    m_tileMap = named(new QCheckBox(tr("Each different tile once, and a tile &map")), "tileMap");
    m_tileBase = named(new QSpinBox, "tileBase");
    m_tileBase->setRange(0, 255);
    m_padRows = named(new QCheckBox(tr("&Pad each row to whole elements")), "padRows");
    m_name = named(new QLineEdit(QStringLiteral("Untitled")), "name");
    m_complete = named(new QCheckBox(tr("&Complete header that compiles")), "complete");
    m_lf = named(new QCheckBox(tr("&LF line ends (not CR LF)")), "lf");
    m_art = named(new QCheckBox(tr("Picture as text &art in a comment")), "art");
    m_frames = named(new QCheckBox(tr("&Frames, one after another:")), "frames");
    m_frameWidth = named(new QSpinBox, "frameWidth");
    m_frameHeight = named(new QSpinBox, "frameHeight");
    for (QSpinBox* side : {m_frameWidth, m_frameHeight}) {
        side->setRange(1, 32767);
    }
    m_frameWidth->setValue(m_packed->width);
    m_frameHeight->setValue(m_packed->height);
    m_frameOrder = named(new QComboBox, "frameOrder");
    m_frameOrder->addItem(tr("Rows"), int(imaging::FrameOrder::Rows));
    m_frameOrder->addItem(tr("Columns"), int(imaging::FrameOrder::Columns));
    m_mask = named(new QComboBox, "mask");
    m_mask->addItem(tr("None"), int(ctext::Mask::None));
    m_mask->addItem(tr("1 where a pixel is drawn (ones)"), int(ctext::Mask::Ones));
    m_mask->addItem(tr("0 where a pixel is drawn (zeros)"), int(ctext::Mask::Zeros));
    m_transparent = named(new QLineEdit(QStringLiteral("ff00ff")), "transparent");
    m_transparent->setToolTip(tr("Save Picture shows transparent pixels in this colour"));
    m_problem = named(new QLabel, "problem");
    m_problem->setWordWrap(true);
    m_preview = named(new QPlainTextEdit, "preview");
    m_preview->setReadOnly(true);
    m_preview->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont mono(QStringLiteral("Monospace"));
    mono.setStyleHint(QFont::Monospace);
    m_preview->setFont(mono);
    m_preview->setMinimumSize(420, 220);

    auto* form = new QFormLayout;
    form->addRow(tr("La&yout:"), m_layout);
    form->addRow(tr("&Word:"), m_word);
    form->addRow(tr("&Tile order:"), m_tileOrder);
    form->addRow(QString(), m_invert);
    form->addRow(tr("&Bit order:"), m_bitOrder);
    form->addRow(QString(), m_tileMap);
    form->addRow(tr("First tile's &number:"), m_tileBase);
    form->addRow(QString(), m_padRows);
    form->addRow(tr("&Name:"), m_name);
    form->addRow(QString(), m_complete);
    form->addRow(QString(), m_lf);
    form->addRow(QString(), m_art);
    auto* frameSize = new QHBoxLayout;
    frameSize->addWidget(m_frameWidth);
    frameSize->addWidget(new QLabel(QStringLiteral("×")));
    frameSize->addWidget(m_frameHeight);
    frameSize->addWidget(m_frameOrder);
    form->addRow(m_frames, frameSize);
    form->addRow(tr("&Mask:"), m_mask);
    form->addRow(tr("T&ransparent colour:"), m_transparent);

    auto* buttons = new QDialogButtonBox;
    m_saveButton = named(buttons->addButton(tr("&Save..."), QDialogButtonBox::AcceptRole), "save");
    m_copyButton = named(buttons->addButton(tr("C&opy"), QDialogButtonBox::ActionRole), "copy");
    buttons->addButton(QDialogButtonBox::Close);
    // Saving does not close the dialog, so that the same picture can be exported several ways.
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Each action is called through a copy: a Close while it runs deletes the dialog.
    connect(m_saveButton, &QPushButton::clicked, this, [this] {
        const Action save = m_save;
        save(planes(), style());
    });
    connect(m_copyButton, &QPushButton::clicked, this, [this] {
        const Action copy = m_copy;
        copy(planes(), style());
    });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_problem);
    layout->addWidget(new QLabel(tr("The start of the text:")));
    layout->addWidget(m_preview, 1);
    layout->addWidget(buttons);

    // Where the last dialog of the run was left, or the defaults: the picture's stem as the
    // name (as the CMake function names it; Untitled where that is no name) and a complete
    // header, so that two pictures' headers can go into one program.
    const Choices& start = *m_remembered;
    if (start.made) {
        m_layout->setCurrentIndex(start.layout);
        m_word->setCurrentIndex(start.word);
        m_tileOrder->setCurrentIndex(start.tileOrder);
        m_bitOrder->setCurrentIndex(start.bitOrder);
        m_tileBase->setValue(start.tileBase);
        m_invert->setChecked(start.invert);
        m_tileMap->setChecked(start.tileMap);
        m_padRows->setChecked(start.padRows);
        m_lf->setChecked(start.lf);
        m_art->setChecked(start.art);
        m_name->setText(start.name);
        m_given = start.given;
        m_frames->setChecked(start.frames);
        if (start.frameWidth > 0) {
            m_frameWidth->setValue(start.frameWidth);
            m_frameHeight->setValue(start.frameHeight);
        }
        m_frameOrder->setCurrentIndex(start.frameOrder);
        m_mask->setCurrentIndex(start.mask);
        m_transparent->setText(start.transparentText);
    } else {
        const std::string stem = m_source.substr(0, m_source.rfind('.'));
        const std::string name = ctext::identifierOf(stem);
        if (!ctext::nameProblem(name)) {
            m_name->setText(QString::fromStdString(name));
        }
    }
    m_complete->setChecked(start.complete);

    // What the user changed counts as given, as the converter's parser counts an option on the
    // command line; first, so that update() sees it.
    connect(m_layout, &QComboBox::currentIndexChanged, this, [this] { m_given.layout = true; });
    connect(m_word, &QComboBox::currentIndexChanged, this, [this] { m_given.word = true; });
    connect(m_tileOrder, &QComboBox::currentIndexChanged, this,
            [this] { m_given.tileOrder = true; });
    connect(m_invert, &QCheckBox::toggled, this, [this] { m_given.invert = true; });
    connect(m_bitOrder, &QComboBox::currentIndexChanged, this,
            [this] { m_given.bitOrder = m_bitOrder->currentIndex() != 0; });
    connect(m_tileMap, &QCheckBox::toggled, this, [this] { m_given.tileMap = true; });
    connect(m_tileBase, &QSpinBox::valueChanged, this, [this] { m_given.tileBase = true; });
    connect(m_padRows, &QCheckBox::toggled, this, [this] { m_given.rows = true; });
    connect(m_mask, &QComboBox::currentIndexChanged, this,
            [this] { m_given.mask = m_mask->currentIndex() != 0; });
    for (QSpinBox* box : {m_tileBase, m_frameWidth, m_frameHeight}) {
        connect(box, &QSpinBox::valueChanged, this, &ExportDialog::update);
    }
    for (QComboBox* box : {m_layout, m_word, m_tileOrder, m_bitOrder, m_frameOrder, m_mask}) {
        connect(box, &QComboBox::currentIndexChanged, this, &ExportDialog::update);
    }
    for (QCheckBox* box : {m_invert, m_tileMap, m_padRows, m_complete, m_lf, m_art, m_frames}) {
        connect(box, &QCheckBox::toggled, this, &ExportDialog::update);
    }
    for (QLineEdit* line : {m_name, m_transparent}) {
        connect(line, &QLineEdit::textChanged, this, &ExportDialog::update);
    }
    update();
}

ctext::LayoutOptions ExportDialog::choices() const {
    ctext::LayoutOptions options;
    options.layout = static_cast<ctext::Layout>(m_layout->currentData().toInt());
    options.rows = m_padRows->isChecked() ? imaging::RowLayout::Padded : imaging::RowLayout::Packed;
    options.word = m_word->currentData().toInt();
    options.tileOrder = static_cast<ctext::TileOrder>(m_tileOrder->currentData().toInt());
    options.invert = m_invert->isChecked();
    options.bitOrder = static_cast<ctext::BitOrder>(m_bitOrder->currentData().toInt());
    options.tileMap = m_tileMap->isChecked();
    options.tileBase = m_tileBase->value();
    options.mask = static_cast<ctext::Mask>(m_mask->currentData().toInt());
    return options;
}

ctext::LayoutGiven ExportDialog::given() const {
    // A choice that the layout does not take is disabled and counts as not given.
    ctext::LayoutGiven given = m_given;
    given.rows = given.rows && m_padRows->isEnabled();
    given.word = given.word && m_word->isEnabled();
    given.tileOrder = given.tileOrder && m_tileOrder->isEnabled();
    given.invert = given.invert && m_invert->isEnabled();
    given.bitOrder = given.bitOrder && m_bitOrder->isEnabled();
    given.tileMap = given.tileMap && m_tileMap->isEnabled();
    given.tileBase = given.tileBase && m_tileBase->isEnabled();
    given.mask = given.mask && m_mask->isEnabled();
    return given;
}

imaging::FrameGrid ExportDialog::frames() const {
    if (!m_frames->isChecked()) {
        return {};
    }
    return {m_frameWidth->value(), m_frameHeight->value(),
            static_cast<imaging::FrameOrder>(m_frameOrder->currentData().toInt())};
}

void ExportDialog::setFramesShown(std::function<void(const imaging::FrameGrid&)> shown) {
    m_framesShown = std::move(shown);
    if (m_framesShown) {
        m_framesShown(frames());
    }
}

ctext::TextStyle ExportDialog::style() const {
    // A choice not given keeps its default, as the converter's would.
    const ctext::LayoutOptions chosen = choices();
    const ctext::LayoutGiven given = this->given();
    ctext::TextStyle style;
    style.name = m_name->text().toStdString();
    style.complete = m_complete->isChecked();
    style.lf = m_lf->isChecked();
    style.source = m_source;
    style.art = m_art->isEnabled() && m_art->isChecked();
    style.layout.layout = chosen.layout;
    if (given.rows) {
        style.layout.rows = chosen.rows;
    }
    if (given.word) {
        style.layout.word = chosen.word;
    }
    if (given.tileOrder) {
        style.layout.tileOrder = chosen.tileOrder;
    }
    if (given.invert) {
        style.layout.invert = chosen.invert;
    }
    if (given.bitOrder) {
        style.layout.bitOrder = chosen.bitOrder;
    }
    if (given.tileMap) {
        style.layout.tileMap = chosen.tileMap;
    }
    if (given.tileBase) {
        style.layout.tileBase = chosen.tileBase;
    }
    if (given.mask) {
        style.layout.mask = chosen.mask;
    }
    style.frames = frames();
    return style;
}

std::shared_ptr<const imaging::Planes> ExportDialog::planes() const {
    return style().layout.rows == imaging::RowLayout::Padded ? m_padded : m_packed;
}

void ExportDialog::update() {
    // Every change is kept at once: the dialog may be closed any way.
    Choices& kept = *m_remembered;
    kept.made = true;
    kept.layout = m_layout->currentIndex();
    kept.word = m_word->currentIndex();
    kept.tileOrder = m_tileOrder->currentIndex();
    kept.bitOrder = m_bitOrder->currentIndex();
    kept.tileBase = m_tileBase->value();
    kept.invert = m_invert->isChecked();
    kept.tileMap = m_tileMap->isChecked();
    kept.padRows = m_padRows->isChecked();
    kept.complete = m_complete->isChecked();
    kept.lf = m_lf->isChecked();
    kept.art = m_art->isChecked();
    kept.name = m_name->text();
    kept.given = m_given;
    kept.frames = m_frames->isChecked();
    kept.frameWidth = m_frameWidth->value();
    kept.frameHeight = m_frameHeight->value();
    kept.frameOrder = m_frameOrder->currentIndex();
    kept.mask = m_mask->currentIndex();
    kept.transparentText = m_transparent->text();
    // The converter's reading of --transparent, a leading # allowed.
    const QString colourText = m_transparent->text();
    const auto colour = imaging::colourValue(
        (colourText.startsWith(QLatin1Char('#')) ? colourText.mid(1) : colourText).toStdString());
    if (colour) {
        kept.transparent = static_cast<std::uint32_t>(*colour);
    }
    // Each choice only where the converter takes it: the converter's own rule, asked for that
    // choice alone, and its words on the disabled choice.
    const ctext::LayoutOptions chosen = choices();
    auto offer = [&](QWidget* box, ctext::LayoutGiven alone) {
        const auto refusal = ctext::layoutProblem(chosen, alone);
        box->setEnabled(!refusal);
        box->setToolTip(refusal ? QString::fromStdString(*refusal) : QString());
    };
    offer(m_word, {.word = true});
    offer(m_padRows, {.rows = true});
    offer(m_tileOrder, {.tileOrder = true});
    offer(m_invert, {.invert = true});
    offer(m_bitOrder, {.bitOrder = true});
    offer(m_tileMap, {.tileMap = true});
    offer(m_tileBase, {.tileBase = true});
    {
        // A mask is offered where the rule takes one, whichever polarity.
        ctext::LayoutOptions masked = chosen;
        masked.mask = ctext::Mask::Ones;
        const auto refusal = ctext::layoutProblem(masked, {.mask = true});
        m_mask->setEnabled(!refusal);
        m_mask->setToolTip(refusal ? QString::fromStdString(*refusal) : QString());
    }
    for (QWidget* side :
         std::initializer_list<QWidget*>{m_frameWidth, m_frameHeight, m_frameOrder}) {
        side->setEnabled(m_frames->isChecked());
    }
    if (m_framesShown) {
        m_framesShown(frames());
    }
    m_art->setEnabled(m_complete->isChecked());
    if (m_padRows->isChecked() && !m_padded) {
        m_padded = std::make_shared<const imaging::Planes>(
            withRowLayout(*m_packed, imaging::RowLayout::Padded));
    }

    QString problem = arrayNameProblem(m_name->text());
    if (const auto refusal = ctext::layoutProblem(style().layout, given());
        problem.isEmpty() && refusal) {
        problem = QString::fromStdString(*refusal);
    }
    const ctext::TextStyle chosenStyle = style();
    const imaging::FrameGrid grid = chosenStyle.frames;
    const QString framesSpelled = tr("Frames of %1 × %2").arg(grid.width).arg(grid.height);
    if (const auto refusal = ctext::framesProblem(chosenStyle.layout);
        problem.isEmpty() && grid.any() && refusal) {
        problem = framesSpelled + QLatin1Char(' ') + QString::fromStdString(*refusal);
    }
    if (problem.isEmpty() && grid.any()) {
        // The sheet and each frame, in the converter's words.
        if (const auto refusal = ctext::planesProblem(chosenStyle.layout, *m_packed, grid)) {
            problem = tr("The picture %1").arg(QString::fromStdString(*refusal));
        }
    }
    if (problem.isEmpty() && !colour) {
        problem = tr("Transparent colour %1: it is six hex digits RRGGBB, as ff00ff for magenta.")
                      .arg(colourText);
    }
    if (problem.isEmpty() && !grid.any() &&
        !ctext::extentProblem(chosenStyle.layout, m_packed->width, m_packed->height)) {
        // More different tiles than a map numbers, in the converter's words.
        if (const auto refusal = ctext::planesProblem(chosenStyle.layout, *m_packed)) {
            problem = tr("The picture %1").arg(QString::fromStdString(*refusal));
        }
    }
    if (problem.isEmpty() && !grid.any() &&
        ctext::extentProblem(style().layout, m_packed->width, m_packed->height)) {
        // Nothing is saved or copied that would hold only the whole tiles of the picture.
        const bool tall = m_tileOrder->currentData().toInt() == int(ctext::TileOrder::Tall8x16);
        problem = tr("The picture is %1 × %2 pixels: tiles need a width that is a "
                     "multiple of 8 and a height that is a multiple of %3.")
                      .arg(m_packed->width)
                      .arg(m_packed->height)
                      .arg(tall ? 16 : 8);
    }
    m_problem->setText(problem);
    m_problem->setVisible(!problem.isEmpty());
    m_saveButton->setEnabled(problem.isEmpty());
    m_copyButton->setEnabled(problem.isEmpty());
    if (!problem.isEmpty()) {
        m_preview->clear();
        return;
    }
    std::string start;
    ctext::writeArraysTo(
        *planes(),
        [&](std::string_view piece) {
            start.append(piece.substr(0, kPreviewBytes - start.size()));
            return start.size() < kPreviewBytes;
        },
        style());
    QString shown = QString::fromLatin1(start.data(), static_cast<qsizetype>(start.size()));
    shown.remove(QLatin1Char('\r'));
    m_preview->setPlainText(shown);
}

} // namespace window
