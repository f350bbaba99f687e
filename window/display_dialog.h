#pragma once
// File > Open for a Display: the converter's choices before the levels (size, fit, turning,
// grey rule, tone, thresholds, the panel's levels, dithering), each with the option it stands
// for, and a preview of the result at the chosen size.

#include "conversion/stream.h"

#include <QCoreApplication>
#include <QDialog>
#include <QImage>
#include <QPointer>
#include <atomic>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class QTimer;

namespace window {

class DisplayDialog final : public QDialog {
    Q_DECLARE_TR_FUNCTIONS(DisplayDialog)

  public:
    // `picture` is the opened picture (shared, never written while the dialog lives). The
    // dialog starts from `remembered` and keeps it up to date. The preview shows the levels as
    // the panel's greys when `panelGreys`.
    DisplayDialog(QImage picture, std::shared_ptr<conversion::ConvertOptions> remembered,
                  bool panelGreys, QWidget* parent = nullptr);
    ~DisplayDialog() override;

    // The choices read through the converter's own readers of its options' values; nothing
    // while one of them is refused.
    std::optional<conversion::ConvertOptions> options() const;
    // The converter's options that the choices stand for, as typed on its command line.
    QString arguments() const;
    // Whether a preview is being made or waits to be.
    bool previewPending() const;

    // A preview is made of a copy at most this many pixels across (or down), so that a slider
    // moved over a photo of many megapixels is followed at once.
    static constexpr int kPreviewSource = 1024;

  private:
    void changed();
    // Starts the preview of the choices as they stand, unless one is being made: that one is
    // stopped, and the newest choices are previewed once it has ended.
    void preview();

    QImage m_picture;
    std::shared_ptr<const QImage> m_previewSource; // made by the first preview
    std::shared_ptr<conversion::ConvertOptions> m_remembered;
    bool m_panelGreys;

    QSpinBox* m_width = nullptr;
    QSpinBox* m_height = nullptr;
    QComboBox* m_fit = nullptr;
    QLineEdit* m_background = nullptr;
    QComboBox* m_rotate = nullptr;
    QCheckBox* m_flipH = nullptr;
    QCheckBox* m_flipV = nullptr;
    QComboBox* m_grey = nullptr;
    QSlider* m_brightness = nullptr;
    QSpinBox* m_brightnessValue = nullptr;
    QSlider* m_contrast = nullptr;
    QSpinBox* m_contrastValue = nullptr;
    QDoubleSpinBox* m_gamma = nullptr;
    QLineEdit* m_thresholds = nullptr;
    QLineEdit* m_levels = nullptr;
    QComboBox* m_dither = nullptr;
    // The option each choice stands for, beside it.
    QLabel* m_sizeOption = nullptr;
    QLabel* m_fitOption = nullptr;
    QLabel* m_backgroundOption = nullptr;
    QLabel* m_rotateOption = nullptr;
    QLabel* m_flipOption = nullptr;
    QLabel* m_greyOption = nullptr;
    QLabel* m_brightnessOption = nullptr;
    QLabel* m_contrastOption = nullptr;
    QLabel* m_gammaOption = nullptr;
    QLabel* m_thresholdsOption = nullptr;
    QLabel* m_levelsOption = nullptr;
    QLabel* m_ditherOption = nullptr;
    QLabel* m_problem = nullptr;
    QLineEdit* m_arguments = nullptr;
    QLabel* m_preview = nullptr;
    QLabel* m_previewSize = nullptr;
    QPushButton* m_ok = nullptr;

    QTimer* m_pace = nullptr;
    QPointer<QObject> m_working;                      // the preview being made
    std::shared_ptr<std::atomic<bool>> m_stopWorking; // asks it to stop
    bool m_again = false;                             // the choices changed since it started
    bool m_finished = false;                          // closed: no more previews
};

} // namespace window
