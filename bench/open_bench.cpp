// Times File > Open of one picture in the window (offscreen): from choosing Open to the first
// paint of Picture1 that shows the opened picture, to the end of the load (the scan reports its
// total), and to the end of the scan. Prints every run, then the fastest and the median of each.
//
// Usage: open_bench INPUT [RUNS [cold]]
//   cold   drop the page cache before each run (needs root: writes /proc/sys/vm/drop_caches)

#include "window/form1.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QImageReader>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

[[noreturn]] void fail(const QString& message) {
    std::fprintf(stderr, "open_bench: %s\n", message.toLocal8Bit().constData());
    std::exit(1);
}

void dropPageCache() {
    ::sync();
    std::ofstream drop("/proc/sys/vm/drop_caches");
    drop << "3\n";
    if (!drop.flush()) {
        fail(QStringLiteral("cannot drop the page cache (not root?)"));
    }
}

struct Times {
    double firstRow = -1; // the first paint that shows the picture
    double loaded = -1;   // the scan reports its total: the load is over
    double open = 0;      // Open returned: the scan is over too
    double longestGap = 0;
};

// Notes the first paint of the picture view once the surface holds the opened picture.
class PaintWatch final : public QObject {
  public:
    PaintWatch(const window::Form1& form, int height, Clock::time_point& start, double& at)
        : m_form(form), m_height(height), m_start(start), m_at(at) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && m_at < 0 && m_form.surface().height() == m_height) {
            m_at = secondsSince(m_start);
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    const window::Form1& m_form;
    int m_height;
    Clock::time_point& m_start;
    double& m_at;
};

Times timeOpen(const QString& input, int height) {
    window::Seams seams;
    seams.chooseFile = [&](QWidget*, const window::DialogRequest&) { return input; };
    seams.beep = [] {};
    seams.showError = [](QWidget*, const QString&, const QString& text) { fail(text); };
    window::Form1 form(seams);
    form.show();
    QCoreApplication::processEvents();

    Times times;
    Clock::time_point start;
    QWidget* viewport =
        form.findChild<QAbstractScrollArea*>(QStringLiteral("Picture1"))->viewport();
    PaintWatch watch(form, height, start, times.firstRow);
    viewport->installEventFilter(&watch);
    QObject::connect(form.findChild<QLineEdit*>(QStringLiteral("Text5")), &QLineEdit::textChanged,
                     [&] {
                         if (times.loaded < 0) {
                             times.loaded = secondsSince(start);
                         }
                     });
    QTimer ticker;
    auto lastTick = Clock::now();
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        times.longestGap = std::max(times.longestGap, secondsSince(lastTick));
        lastTick = Clock::now();
    });
    ticker.start(5);

    auto* open = form.findChild<QAction*>(QStringLiteral("mOpen"));
    start = Clock::now();
    lastTick = start;
    open->trigger();
    // Open goes on beside the event loop after trigger() returns.
    while (form.busy()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    times.open = secondsSince(start);
    times.longestGap = std::max(times.longestGap, secondsSince(lastTick));
    if (times.firstRow < 0 || times.loaded < 0) {
        fail(QStringLiteral("the picture was not shown"));
    }
    return times;
}

int pictureHeight(const char* path) {
    const QSize size = QImageReader(QString::fromLocal8Bit(path)).size();
    if (!size.isValid()) {
        fail(QStringLiteral("%1 is not a picture").arg(QString::fromLocal8Bit(path)));
    }
    return size.height();
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: open_bench PICTURE [RUNS [cold]]\n");
        return 2;
    }
    const QString input = QString::fromLocal8Bit(argv[1]);
    const int height = pictureHeight(argv[1]);
    const int runs = argc >= 3 ? std::max(1, std::atoi(argv[2])) : 5;
    const bool cold = argc >= 4 && std::string(argv[3]) == "cold";

    std::vector<double> first, loaded, open, gaps;
    for (int run = 0; run < runs; ++run) {
        if (cold) {
            dropPageCache();
        }
        const Times t = timeOpen(input, height);
        first.push_back(t.firstRow);
        loaded.push_back(t.loaded);
        open.push_back(t.open);
        gaps.push_back(t.longestGap);
        std::printf("run %d: first row shown %.3f s, loaded %.3f s, open %.3f s, longest "
                    "without events %.3f s\n",
                    run + 1, t.firstRow, t.loaded, t.open, t.longestGap);
        std::fflush(stdout);
    }
    auto fastest = [](const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
    };
    std::printf("%s, %d runs, fastest / median: first row shown %.3f / %.3f s, loaded %.3f / "
                "%.3f s, open %.3f / %.3f s, longest without events %.3f / %.3f s\n",
                cold ? "cold" : "warm", runs, fastest(first), median(first), fastest(loaded),
                median(loaded), fastest(open), median(open), fastest(gaps), median(gaps));
    return 0;
}
