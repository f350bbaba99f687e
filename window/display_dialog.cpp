#include "window/display_dialog.h"

#include "conversion/pipeline.h"
#include "conversion/stages.h"
#include "imaging/option_values.h"
#include "window/aside.h"
#include "window/picture_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <new>
#include <string>
#include <tuple>

namespace window {
namespace {

constexpr QSize kPreviewBox(360, 270);

std::string text(const QString& value) {
    return value.trimmed().toStdString();
}

QString words(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Stops the preview's run between rows once asked.
class StopProgress final : public imaging::RowProgress {
  public:
    explicit StopProgress(const std::atomic<bool>& stop) : m_stop(stop) {}
    void reportTotal(std::int16_t) override {}
    void reportRowsDone(std::int16_t) override {}
    imaging::Flow yield() override {
        return m_stop.load() ? imaging::Flow::Stop : imaging::Flow::Continue;
    }

  private:
    const std::atomic<bool>& m_stop;
};

// What a preview's work hands back: the picture it was made from, and the result drawn in the
// level colours (null when stopped or refused).
struct Previewed {
    std::shared_ptr<const QImage> source;
    QImage result;
    QString problem;
};

// The choices' planes of `source`, drawn; the surface's format, as the window draws it.
Previewed makePreview(const QImage& picture, std::shared_ptr<const QImage> source,
                      const conversion::ConvertOptions& options, const std::atomic<bool>& stop,
                      std::optional<imaging::Levels> greys) {
    if (source == nullptr) {
        source = std::make_shared<const QImage>(
            picture.width() <= DisplayDialog::kPreviewSource &&
                    picture.height() <= DisplayDialog::kPreviewSource
                ? picture
                : picture
                      .scaled(DisplayDialog::kPreviewSource, DisplayDialog::kPreviewSource,
                              Qt::KeepAspectRatio, Qt::SmoothTransformation)
                      .convertToFormat(picture.hasAlphaChannel() ? QImage::Format_RGBA8888
                                                                 : QImage::Format_RGBX8888));
    }
    Previewed done{source, {}, {}};
    const QImage& from = *source;
    // A picture with alpha over white, as Open for a Display takes it.
    conversion::PixelRows rows(
        from.width(), from.height(),
        [&from](int y) { return reinterpret_cast<const imaging::Pixel*>(from.constScanLine(y)); },
        from.hasAlphaChannel());
    StopProgress progress(stop);
    base::Result<imaging::Planes> planes = imaging::Planes{};
    try {
        planes = conversion::convertRows(rows, "preview", options, progress);
    } catch (const std::bad_alloc&) {
        done.problem = QObject::tr("There is not enough memory for a preview of this size.");
        return done;
    }
    if (const auto* failure = std::get_if<base::Error>(&planes)) {
        done.problem = QString::fromStdString(failure->reason);
        return done;
    }
    if (stop.load()) {
        return done;
    }
    // Drawn at most kPreviewSource across, each shown pixel the nearest made one.
    const auto& made = std::get<imaging::Planes>(planes);
    const QSize size =
        QSize(made.width, made.height)
            .boundedTo(QSize(made.width, made.height)
                           .scaled(DisplayDialog::kPreviewSource, DisplayDialog::kPreviewSource,
                                   Qt::KeepAspectRatio));
    QImage result(size, QImage::Format_RGBX8888);
    std::vector<imaging::Pixel> line(static_cast<std::size_t>(made.width));
    for (int y = 0; y < size.height(); ++y) {
        imaging::decodeRow(made, static_cast<int>(std::int64_t{y} * made.height / size.height()),
                           line);
        auto* out = reinterpret_cast<imaging::Pixel*>(result.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            out[x] = line[static_cast<std::size_t>(std::int64_t{x} * made.width / size.width())];
        }
    }
    if (greys) {
        recolourLevels(result, result, 0, result.height(), *greys);
    }
    done.result = std::move(result);
    return done;
}

// The extent of the result that OK makes of the whole picture.
QSize resultSize(const QImage& picture, const imaging::Geometry& geometry) {
    const bool across = geometry.quarterTurns % 2 == 1;
    const int width = across ? picture.height() : picture.width();
    const int height = across ? picture.width() : picture.height();
    if (!geometry.resizes()) {
        return {width, height};
    }
    const auto placed = conversion::placementOf(width, height, geometry, {});
    const auto* placement = std::get_if<conversion::Placement>(&placed);
    return placement != nullptr ? QSize(placement->width, placement->height) : QSize();
}

} // namespace

DisplayDialog::DisplayDialog(QImage picture, std::shared_ptr<conversion::ConvertOptions> remembered,
                             bool panelGreys, QWidget* parent)
    : QDialog(parent), m_picture(std::move(picture)), m_remembered(std::move(remembered)),
      m_panelGreys(panelGreys) {
    setObjectName(QStringLiteral("DisplayDialog"));
    setWindowTitle(tr("Open for a Display"));
    const conversion::ConvertOptions& start = *m_remembered;

    auto named = [](auto* widget, const char* name) {
        widget->setObjectName(QLatin1String(name));
        return widget;
    };
    auto option = [&named](const char* name) {
        auto* label = named(new QLabel, name);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("M")) * 16);
        return label;
    };
    auto row = [](std::initializer_list<QWidget*> widgets) {
        auto* box = new QWidget;
        auto* layout = new QHBoxLayout(box);
        layout->setContentsMargins(0, 0, 0, 0);
        for (QWidget* widget : widgets) {
            layout->addWidget(widget);
        }
        return box;
    };
    auto side = [&named](const char* name, int value) {
        auto* box = named(new QSpinBox, name);
        box->setRange(0, 32767);
        box->setSpecialValueText(tr("as the picture"));
        box->setValue(value);
        return box;
    };

    m_width = side("width", start.geometry.width);
    m_height = side("height", start.geometry.height);
    m_sizeOption = option("sizeOption");
    m_fit = named(new QComboBox, "fit");
    for (const imaging::Fit fit :
         {imaging::Fit::Contain, imaging::Fit::Cover, imaging::Fit::Stretch}) {
        m_fit->addItem(words(imaging::fitName(fit)), words(imaging::fitName(fit)));
    }
    m_fit->setCurrentText(words(imaging::fitName(start.geometry.fit)));
    m_fitOption = option("fitOption");
    m_background = named(new QLineEdit, "background");
    m_background->setText(QString::fromStdString(imaging::colourText(start.geometry.background)));
    m_background->setPlaceholderText(QStringLiteral("ffffff"));
    m_backgroundOption = option("backgroundOption");

    m_rotate = named(new QComboBox, "rotate");
    m_rotate->addItem(tr("None"), QString());
    for (const char* angle : {"90", "180", "270"}) {
        m_rotate->addItem(tr("%1° clockwise").arg(QLatin1String(angle)), QLatin1String(angle));
    }
    m_rotate->setCurrentIndex(start.geometry.quarterTurns);
    m_rotateOption = option("rotateOption");
    m_flipH = named(new QCheckBox(tr("Left and &right")), "flipH");
    m_flipH->setChecked(start.geometry.flipLeftRight);
    m_flipV = named(new QCheckBox(tr("&Top and bottom")), "flipV");
    m_flipV->setChecked(start.geometry.flipTopBottom);
    m_flipOption = option("flipOption");

    m_grey = named(new QComboBox, "grey");
    m_grey->addItem(tr("Average of red, green and blue"), QStringLiteral("average"));
    m_grey->addItem(tr("Luma (green counts most)"), QStringLiteral("luma"));
    m_grey->setCurrentIndex(start.tone.grey == imaging::GreyRule::Luma ? 1 : 0);
    m_greyOption = option("greyOption");

    auto slider = [&named](const char* name, const char* valueName, int low, int high, int value,
                           QSpinBox*& box) {
        auto* bar = named(new QSlider(Qt::Horizontal), name);
        bar->setRange(low, high);
        bar->setValue(value);
        box = named(new QSpinBox, valueName);
        box->setRange(low, high);
        box->setValue(value);
        connect(bar, &QSlider::valueChanged, box, &QSpinBox::setValue);
        connect(box, &QSpinBox::valueChanged, bar, &QSlider::setValue);
        return bar;
    };
    m_brightness = slider("brightness", "brightnessValue", -255, 255, start.tone.brightness,
                          m_brightnessValue);
    m_brightnessOption = option("brightnessOption");
    m_contrast =
        slider("contrast", "contrastValue", -100, 100, start.tone.contrast, m_contrastValue);
    m_contrastOption = option("contrastOption");
    m_gamma = named(new QDoubleSpinBox, "gamma");
    m_gamma->setRange(0.1, 10);
    m_gamma->setDecimals(2);
    m_gamma->setSingleStep(0.1);
    m_gamma->setValue(start.tone.gamma);
    m_gammaOption = option("gammaOption");
    m_thresholds = named(new QLineEdit, "thresholds");
    m_thresholds->setPlaceholderText(tr("43,128,213, or half way between the levels"));
    if (start.tone.thresholds) {
        m_thresholds->setText(QString::fromStdString(imaging::valuesText(*start.tone.thresholds)));
    }
    m_thresholdsOption = option("thresholdsOption");
    m_levels = named(new QLineEdit, "levels");
    m_levels->setPlaceholderText(QStringLiteral("0,85,170,255"));
    if (start.tone.levels) {
        m_levels->setText(QString::fromStdString(imaging::valuesText(*start.tone.levels)));
    }
    m_levelsOption = option("levelsOption");
    m_dither = named(new QComboBox, "dither");
    for (const imaging::Dither method : {imaging::Dither::None, imaging::Dither::FloydSteinberg,
                                         imaging::Dither::Atkinson, imaging::Dither::Bayer}) {
        m_dither->addItem(words(imaging::ditherName(method)), words(imaging::ditherName(method)));
    }
    m_dither->setCurrentIndex(static_cast<int>(start.dither));
    m_ditherOption = option("ditherOption");

    auto* form = new QFormLayout;
    auto add = [form](const QString& caption, QWidget* field, QLabel* optionLabel) {
        auto* label = new QLabel(caption);
        label->setBuddy(field);
        form->addRow(label, [&] {
            auto* box = new QWidget;
            auto* layout = new QHBoxLayout(box);
            layout->setContentsMargins(0, 0, 0, 0);
            layout->addWidget(field, 1);
            layout->addWidget(optionLabel);
            return box;
        }());
        return label;
    };
    add(tr("&Size:"), row({m_width, new QLabel(QStringLiteral("×")), m_height}), m_sizeOption)
        ->setBuddy(m_width);
    add(tr("&Fit:"), m_fit, m_fitOption);
    add(tr("&Background:"), m_background, m_backgroundOption);
    add(tr("R&otation:"), m_rotate, m_rotateOption);
    add(tr("Mirror:"), row({m_flipH, m_flipV}), m_flipOption);
    add(tr("&Grey:"), m_grey, m_greyOption);
    add(tr("Bright&ness:"), row({m_brightness, m_brightnessValue}), m_brightnessOption)
        ->setBuddy(m_brightness);
    add(tr("&Contrast:"), row({m_contrast, m_contrastValue}), m_contrastOption)
        ->setBuddy(m_contrast);
    add(tr("G&amma:"), m_gamma, m_gammaOption);
    add(tr("T&hresholds:"), m_thresholds, m_thresholdsOption);
    add(tr("Panel's &levels:"), m_levels, m_levelsOption);
    add(tr("&Dithering:"), m_dither, m_ditherOption);

    m_preview = named(new QLabel, "preview");
    m_preview->setFixedSize(kPreviewBox);
    m_preview->setAlignment(Qt::AlignCenter);
    m_preview->setFrameShape(QFrame::StyledPanel);
    m_preview->setAccessibleName(tr("Preview"));
    m_previewSize = named(new QLabel, "previewSize");
    m_problem = named(new QLabel, "problem");
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #b00020"));
    // One line to copy into a build's command.
    m_arguments = named(new QLineEdit, "arguments");
    m_arguments->setReadOnly(true);
    m_arguments->setPlaceholderText(tr("none: the converter's defaults"));
    m_arguments->setAccessibleName(tr("The converter's options"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (const auto chosen = options()) {
            *m_remembered = *chosen;
            accept();
        }
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* previewColumn = new QVBoxLayout;
    previewColumn->addWidget(m_preview);
    previewColumn->addWidget(m_previewSize);
    previewColumn->addStretch();
    auto* top = new QHBoxLayout;
    top->addLayout(form, 1);
    top->addLayout(previewColumn);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_problem);
    auto* arguments = new QFormLayout;
    auto* argumentsLabel = new QLabel(tr("Converter's o&ptions:"));
    argumentsLabel->setBuddy(m_arguments);
    arguments->addRow(argumentsLabel, m_arguments);
    layout->addLayout(arguments);
    layout->addWidget(buttons);

    // A preview at most every few hundredths of a second; one under way when the choices change
    // again is stopped, and the newest choices win.
    m_pace = new QTimer(this);
    m_pace->setSingleShot(true);
    m_pace->setInterval(60);
    connect(m_pace, &QTimer::timeout, this, &DisplayDialog::preview);
    for (QSpinBox* box : {m_width, m_height, m_brightnessValue, m_contrastValue}) {
        connect(box, &QSpinBox::valueChanged, this, &DisplayDialog::changed);
    }
    for (QComboBox* box : {m_fit, m_rotate, m_grey, m_dither}) {
        connect(box, &QComboBox::currentIndexChanged, this, &DisplayDialog::changed);
    }
    for (QCheckBox* box : {m_flipH, m_flipV}) {
        connect(box, &QCheckBox::toggled, this, &DisplayDialog::changed);
    }
    for (QLineEdit* field : {m_background, m_thresholds, m_levels}) {
        connect(field, &QLineEdit::textChanged, this, &DisplayDialog::changed);
    }
    connect(m_gamma, &QDoubleSpinBox::valueChanged, this, &DisplayDialog::changed);
    // Closed, the dialog makes no more previews; the window's scan has the processor.
    connect(this, &QDialog::finished, this, [this] {
        m_finished = true;
        m_pace->stop();
        if (m_stopWorking) {
            m_stopWorking->store(true);
        }
    });
    changed();
    preview();
}

DisplayDialog::~DisplayDialog() {
    // A preview being made runs to its end unseen; told to stop, it ends sooner.
    if (m_stopWorking) {
        m_stopWorking->store(true);
    }
}

std::optional<conversion::ConvertOptions> DisplayDialog::options() const {
    // Each value goes through the converter's reader as the text the option would be given.
    conversion::ConvertOptions chosen;
    imaging::Geometry& geometry = chosen.geometry;
    if (m_width->value() > 0 || m_height->value() > 0) {
        const auto size =
            imaging::sizeValue(imaging::sizeText(m_width->value(), m_height->value()));
        if (!size) {
            return std::nullopt;
        }
        std::tie(geometry.width, geometry.height) = *size;
    }
    geometry.fit = imaging::fitNamed(text(m_fit->currentData().toString())).value();
    if (!imaging::fitApplies(geometry)) {
        geometry.fit = imaging::Fit::Contain;
    }
    if (imaging::backgroundApplies(geometry)) {
        const auto colour = imaging::colourValue(text(m_background->text()));
        if (!colour) {
            return std::nullopt;
        }
        geometry.background = *colour;
    }
    if (m_rotate->currentIndex() > 0) {
        geometry.quarterTurns =
            imaging::quarterTurnsNamed(text(m_rotate->currentData().toString())).value();
    }
    geometry.flipLeftRight = m_flipH->isChecked();
    geometry.flipTopBottom = m_flipV->isChecked();
    imaging::Tone& tone = chosen.tone;
    tone.grey = imaging::greyRuleNamed(text(m_grey->currentData().toString())).value();
    const auto brightness = imaging::brightnessValue(std::to_string(m_brightnessValue->value()));
    const auto contrast = imaging::contrastValue(std::to_string(m_contrastValue->value()));
    const auto gamma = imaging::gammaValue(imaging::gammaText(m_gamma->value()));
    if (!brightness || !contrast || !gamma) {
        return std::nullopt;
    }
    tone.brightness = *brightness;
    tone.contrast = *contrast;
    tone.gamma = *gamma;
    if (!m_thresholds->text().trimmed().isEmpty()) {
        tone.thresholds = imaging::thresholdsValue(text(m_thresholds->text()));
        if (!tone.thresholds) {
            return std::nullopt;
        }
    }
    if (!m_levels->text().trimmed().isEmpty()) {
        tone.levels = imaging::levelsValue(text(m_levels->text()));
        if (!tone.levels) {
            return std::nullopt;
        }
    }
    chosen.dither = imaging::ditherNamed(text(m_dither->currentData().toString())).value();
    return chosen;
}

QString DisplayDialog::arguments() const {
    QStringList given;
    for (const QLabel* label :
         {m_sizeOption, m_fitOption, m_backgroundOption, m_rotateOption, m_flipOption, m_greyOption,
          m_brightnessOption, m_contrastOption, m_gammaOption, m_thresholdsOption, m_levelsOption,
          m_ditherOption}) {
        // Options at their defaults are shown greyed beside their choice, and left out here.
        if (label->isEnabled() && !label->text().isEmpty() &&
            !label->property("atDefault").toBool()) {
            given.append(label->text());
        }
    }
    return given.join(QLatin1Char(' '));
}

bool DisplayDialog::previewPending() const {
    return m_pace->isActive() || m_working != nullptr;
}

void DisplayDialog::changed() {
    imaging::Geometry geometry;
    geometry.width = m_width->value();
    geometry.height = m_height->value();
    const bool fit = imaging::fitApplies(geometry);
    m_fit->setEnabled(fit);
    const bool contain = fit && m_fit->currentIndex() == 0;
    m_background->setEnabled(contain);

    auto show = [](QLabel* label, const QString& shown, bool atDefault) {
        label->setText(shown);
        label->setProperty("atDefault", atDefault);
        label->setEnabled(!atDefault);
    };
    const bool sized = m_width->value() > 0 || m_height->value() > 0;
    show(m_sizeOption,
         QStringLiteral("--size ") +
             QString::fromStdString(imaging::sizeText(m_width->value(), m_height->value())),
         !sized);
    if (!sized) {
        m_sizeOption->setText(QString());
    }
    show(m_fitOption, QStringLiteral("--fit ") + m_fit->currentData().toString(),
         !fit || m_fit->currentIndex() == 0);
    show(m_backgroundOption, QStringLiteral("--background ") + m_background->text().trimmed(),
         !contain || m_background->text().trimmed().toLower() == QLatin1String("ffffff"));
    show(m_rotateOption, QStringLiteral("--rotate ") + m_rotate->currentData().toString(),
         m_rotate->currentIndex() == 0);
    if (m_rotate->currentIndex() == 0) {
        m_rotateOption->setText(QString());
    }
    QStringList flips;
    if (m_flipH->isChecked()) {
        flips << QStringLiteral("--flip h");
    }
    if (m_flipV->isChecked()) {
        flips << QStringLiteral("--flip v");
    }
    show(m_flipOption, flips.join(QLatin1Char(' ')), flips.isEmpty());
    show(m_greyOption, QStringLiteral("--grey ") + m_grey->currentData().toString(),
         m_grey->currentIndex() == 0);
    show(m_brightnessOption, QStringLiteral("--brightness %1").arg(m_brightnessValue->value()),
         m_brightnessValue->value() == 0);
    show(m_contrastOption, QStringLiteral("--contrast %1").arg(m_contrastValue->value()),
         m_contrastValue->value() == 0);
    const std::string gamma = imaging::gammaText(m_gamma->value());
    show(m_gammaOption, QStringLiteral("--gamma ") + QString::fromStdString(gamma), gamma == "1");
    const QString thresholds = m_thresholds->text().trimmed();
    show(m_thresholdsOption, thresholds.isEmpty() ? QString() : "--thresholds " + thresholds,
         thresholds.isEmpty());
    const QString levels = m_levels->text().trimmed();
    show(m_levelsOption, levels.isEmpty() ? QString() : "--levels " + levels, levels.isEmpty());
    show(m_ditherOption, QStringLiteral("--dither ") + m_dither->currentData().toString(),
         m_dither->currentIndex() == 0);

    // Why a value is refused, in the converter's words.
    QString problem;
    auto refuse = [&problem](const QString& optionName, bool bad, std::string_view takes) {
        if (bad && problem.isEmpty()) {
            problem = tr("%1: it is %2").arg(optionName, words(takes));
        }
    };
    refuse(QStringLiteral("--background"),
           contain && !imaging::colourValue(text(m_background->text())), imaging::kColourTakes);
    refuse(QStringLiteral("--thresholds"),
           !thresholds.isEmpty() && !imaging::thresholdsValue(text(thresholds)),
           imaging::kThresholdsTakes);
    refuse(QStringLiteral("--levels"), !levels.isEmpty() && !imaging::levelsValue(text(levels)),
           imaging::kLevelsTakes);
    m_problem->setText(problem);
    m_problem->setVisible(!problem.isEmpty());
    m_ok->setEnabled(problem.isEmpty());
    const QString given = arguments();
    m_arguments->setText(given);
    m_arguments->setCursorPosition(0);
    // Not restarted by each step of a drag: the preview follows the slider while it moves.
    if (problem.isEmpty() && !m_pace->isActive()) {
        m_pace->start();
    }
}

void DisplayDialog::preview() {
    if (m_finished) {
        return;
    }
    if (m_working != nullptr) {
        // The newest choices win: the run under way stops, and they are previewed after it.
        m_stopWorking->store(true);
        m_again = true;
        return;
    }
    const auto chosen = options();
    if (!chosen) {
        return;
    }
    m_again = false;
    m_stopWorking = std::make_shared<std::atomic<bool>>(false);
    const std::optional<imaging::Levels> greys =
        m_panelGreys ? std::optional(imaging::levelsOf(chosen->tone)) : std::nullopt;
    // The work owns what it reads: the picture's pixels are shared, never written meanwhile.
    m_working = runAside(
        this,
        [picture = m_picture, source = m_previewSource, options = *chosen, stop = m_stopWorking,
         greys] { return makePreview(picture, source, options, *stop, greys); },
        [this, size = resultSize(m_picture, chosen->geometry)](Previewed done) {
            m_working = nullptr;
            m_previewSource = done.source;
            if (m_again) {
                preview();
                return;
            }
            if (!done.problem.isEmpty()) {
                m_problem->setText(done.problem);
                m_problem->setVisible(true);
                return;
            }
            if (done.result.isNull()) {
                return;
            }
            const QSize shown = done.result.size().scaled(kPreviewBox, Qt::KeepAspectRatio);
            // Sharp pixels when the result is smaller than the box; its size is said below it.
            m_preview->setPixmap(QPixmap::fromImage(done.result.scaled(
                shown, Qt::IgnoreAspectRatio,
                shown.width() >= done.result.width() ? Qt::FastTransformation
                                                     : Qt::SmoothTransformation)));
            m_previewSize->setText(tr("%1 × %2 pixels").arg(size.width()).arg(size.height()));
        });
}

} // namespace window
