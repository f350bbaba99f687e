// Times Open followed by Convert in the window (offscreen), and then Save C Code, against the
// converter writing the same outputs (by default the text to /dev/null), alternating the two,
// and prints the fastest runs, the medians and their ratios. It also measures the longest time the
// window went without processing its events while the commands ran.
//
// Usage: window_bench INPUT.bmp CONVERTER [RUNS [TEXT_OUTPUT [PICTURE_OUTPUT]]]
//   CONVERTER       path of greyplanes-cli, or - to time the window alone
//   TEXT_OUTPUT     where Save C Code writes (default /dev/null)
//   PICTURE_OUTPUT  if given, Save Picture writes there too

#include "window/form1.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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
    std::fprintf(stderr, "window_bench: %s\n", message.toLocal8Bit().constData());
    std::exit(1);
}

struct WindowTimes {
    double open = 0;
    double convert = 0;
    double saveText = 0;
    double savePicture = 0;
    double longestGap = 0; // the longest time without processing events
};

WindowTimes timeWindow(const QString& input, const QString& textOutput,
                       const QString& pictureOutput) {
    window::Seams seams;
    seams.chooseFile = [&](QWidget*, const window::DialogRequest& request) {
        if (request.mode == window::DialogMode::Open) {
            return input;
        }
        return request.title == QLatin1String("Save C Code") ? textOutput : pictureOutput;
    };
    seams.beep = [] {};
    // The outputs exist after the first run (/dev/null always): replace them without asking.
    seams.confirmReplace = [](QWidget*, const QString&, const QString&) { return true; };
    seams.showError = [](QWidget*, const QString&, const QString& text) { fail(text); };
    window::Form1 form(seams);
    form.show();
    QCoreApplication::processEvents();
    auto trigger = [&](const char* name) {
        auto* action = form.findChild<QAction*>(QLatin1String(name));
        if (!action->isEnabled()) {
            fail(QStringLiteral("%1 is not available").arg(QLatin1String(name)));
        }
        const auto start = Clock::now();
        action->trigger();
        // A command may go on beside the event loop after trigger() returns.
        while (form.busy()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return secondsSince(start);
    };

    WindowTimes times;
    QTimer ticker;
    auto lastTick = Clock::now();
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        times.longestGap = std::max(times.longestGap, secondsSince(lastTick));
        lastTick = Clock::now();
    });
    ticker.start(5);
    lastTick = Clock::now();

    times.open = trigger("mOpen");
    times.convert = trigger("mConvert");
    times.saveText = trigger("mSaveC");
    if (!pictureOutput.isEmpty()) {
        times.savePicture = trigger("mSaveP");
    }
    times.longestGap = std::max(times.longestGap, secondsSince(lastTick));
    return times;
}

double timeConverter(const QString& cli, const QString& input, const QString& textOutput,
                     const QString& pictureOutput) {
    QStringList arguments = {QStringLiteral("-q"), QStringLiteral("-o"), textOutput};
    if (!pictureOutput.isEmpty()) {
        arguments << QStringLiteral("-p") << pictureOutput;
    }
    arguments << input;
    QProcess process;
    const auto start = Clock::now();
    process.start(cli, arguments);
    if (!process.waitForFinished(-1) || process.exitCode() != 0) {
        fail(QStringLiteral("%1 failed: %2")
                 .arg(cli, QString::fromLocal8Bit(process.readAllStandardError())));
    }
    return secondsSince(start);
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (argc < 3 || argc > 6) {
        std::fprintf(stderr, "usage: window_bench INPUT.bmp CONVERTER [RUNS [TEXT_OUTPUT "
                             "[PICTURE_OUTPUT]]]\n");
        return 2;
    }
    const QString input = QString::fromLocal8Bit(argv[1]);
    const QString cli = QString::fromLocal8Bit(argv[2]);
    const int runs = argc >= 4 ? std::max(1, std::atoi(argv[3])) : 5;
    const QString textOutput =
        argc >= 5 ? QString::fromLocal8Bit(argv[4]) : QStringLiteral("/dev/null");
    const QString pictureOutput = argc >= 6 ? QString::fromLocal8Bit(argv[5]) : QString();
    const bool compare = cli != QLatin1String("-");

    std::vector<double> opens, converts, saves, pictures, gaps, windows, whole, converters;
    for (int run = 0; run < runs; ++run) {
        const WindowTimes w = timeWindow(input, textOutput, pictureOutput);
        opens.push_back(w.open);
        converts.push_back(w.convert);
        saves.push_back(w.saveText);
        pictures.push_back(w.savePicture);
        gaps.push_back(w.longestGap);
        windows.push_back(w.open + w.convert);
        whole.push_back(w.open + w.convert + w.saveText);
        std::printf("run %d: window open %.3f s, convert %.3f s, save C code %.3f s", run + 1,
                    w.open, w.convert, w.saveText);
        if (!pictureOutput.isEmpty()) {
            std::printf(", save picture %.3f s", w.savePicture);
        }
        std::printf(", longest without events %.3f s", w.longestGap);
        if (compare) {
            converters.push_back(timeConverter(cli, input, textOutput, pictureOutput));
            std::printf("; converter %.3f s", converters.back());
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    std::printf("medians of %d runs: window open %.3f s, convert %.3f s, save C code %.3f s, "
                "longest without events %.3f s\n",
                runs, median(opens), median(converts), median(saves), median(gaps));
    std::printf("fastest: window open %.3f s, convert %.3f s\n",
                *std::min_element(opens.begin(), opens.end()),
                *std::min_element(converts.begin(), converts.end()));
    if (compare) {
        const double converter = median(converters);
        const double fastest = *std::min_element(converters.begin(), converters.end());
        const double fastestWindow = *std::min_element(windows.begin(), windows.end());
        std::printf("converter %.3f s (fastest %.3f s)\n", converter, fastest);
        std::printf("open+convert / converter: %.2f (fastest %.3f s / %.3f s: %.2f)\n",
                    median(windows) / converter, fastestWindow, fastest, fastestWindow / fastest);
        std::printf("open+convert+save C code / converter: %.2f\n", median(whole) / converter);
    }
    return 0;
}
