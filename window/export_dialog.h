#pragma once
// File > Export C Code: the converter's choices of text, a view of the text's start, Save, Copy.

#include "conversion/output.h"
#include "ctext/c_array_writer.h"
#include "imaging/plane_encoder.h"

#include <QCoreApplication>
#include <QDialog>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QPlainTextEdit;
class QPushButton;

namespace window {

// The planes in the other row layout: the same pixels, rows run on or each from a new byte.
imaging::Planes withRowLayout(const imaging::Planes& planes, imaging::RowLayout rows);

// Why `name` cannot name the arrays (not a C identifier, or a keyword of C or C++), in the
// converter's words; empty when it can.
QString arrayNameProblem(const QString& name);

class ExportDialog final : public QDialog {
    Q_DECLARE_TR_FUNCTIONS(ExportDialog)

  public:
    // What Save and Copy do with the text of these planes in this style. The planes are shared,
    // so that work on them may outlive the dialog.
    using Action =
        std::function<void(std::shared_ptr<const imaging::Planes>, const ctext::TextStyle&)>;

    // What the user chose, kept by the window so that the next dialog of the run starts there.
    struct Choices {
        bool made = false; // nothing chosen yet: the defaults
        int layout = 0, word = 0, tileOrder = 0, bitOrder = 0, tileBase = 0;
        bool invert = false, tileMap = false, padRows = false, complete = true, lf = false,
             art = false;
        QString name;
        ctext::LayoutGiven given;
        bool frames = false; // the picture is a sheet of frames of this size
        int frameWidth = 0, frameHeight = 0, frameOrder = 0;
        int mask = 0;
        // The colour of transparent pixels in Save Picture, as typed and as last valid.
        QString transparentText = QStringLiteral("ff00ff");
        std::uint32_t transparent = conversion::kTransparentColour;
    };

    // `packed` are the planes as Convert makes them; `source` is the picture's file name without
    // its folder, as a complete text's comment names it. The dialog starts from `remembered`
    // and keeps it up to date; without choices made, the name is the picture's stem as an
    // identifier and the header is complete.
    ExportDialog(std::shared_ptr<const imaging::Planes> packed, std::string source, Action save,
                 Action copy, QWidget* parent = nullptr,
                 std::shared_ptr<Choices> remembered = std::make_shared<Choices>());

    // The style the choices make, and the planes in its row layout.
    ctext::TextStyle style() const;
    // Called with the frames chosen (none when frames are not chosen) at once and after each
    // change, so that the picture can show their edges.
    void setFramesShown(std::function<void(const imaging::FrameGrid&)> shown);
    std::shared_ptr<const imaging::Planes> planes() const;

    // The most bytes of the text's start that the view shows.
    static constexpr std::size_t kPreviewBytes = 4096;

  private:
    void update();
    // Every choice as it stands, and which of them the user changed and the layout takes.
    ctext::LayoutOptions choices() const;
    ctext::LayoutGiven given() const;
    // The frames chosen, if any.
    imaging::FrameGrid frames() const;

    std::shared_ptr<const imaging::Planes> m_packed;
    std::shared_ptr<const imaging::Planes> m_padded; // made when padded rows are first chosen
    std::string m_source;
    Action m_save;
    Action m_copy;
    ctext::LayoutGiven m_given; // the layout choices the user changed
    std::shared_ptr<Choices> m_remembered;

    QComboBox* m_layout = nullptr;
    QComboBox* m_word = nullptr;
    QComboBox* m_tileOrder = nullptr;
    QCheckBox* m_invert = nullptr;
    QComboBox* m_bitOrder = nullptr;
    QCheckBox* m_tileMap = nullptr;
    QSpinBox* m_tileBase = nullptr;
    QCheckBox* m_padRows = nullptr;
    QLineEdit* m_name = nullptr;
    QCheckBox* m_complete = nullptr;
    QCheckBox* m_lf = nullptr;
    QCheckBox* m_art = nullptr;
    QCheckBox* m_frames = nullptr;
    QSpinBox* m_frameWidth = nullptr;
    QSpinBox* m_frameHeight = nullptr;
    QComboBox* m_frameOrder = nullptr;
    QComboBox* m_mask = nullptr;
    QLineEdit* m_transparent = nullptr;
    std::function<void(const imaging::FrameGrid&)> m_framesShown;
    QLabel* m_problem = nullptr;
    QPlainTextEdit* m_preview = nullptr;
    QPushButton* m_saveButton = nullptr;
    QPushButton* m_copyButton = nullptr;
};

} // namespace window
