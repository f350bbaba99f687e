// Times Open followed by Convert in the window (offscreen), and then Save C Code to /dev/null,
// against the converter writing the text of the same picture to /dev/null, alternating the two,
// and prints the medians and their ratios.
// Usage: window_bench INPUT.bmp PATH/greyplanes-cli [RUNS [TEXT_OUTPUT]]
// TEXT_OUTPUT (default /dev/null) is where Save C Code writes, e.g. to check the text.

#include "window/form1.h"

#include <QAction>
#include <QApplication>
#include <QProcess>
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
    double save = 0;
};

WindowTimes timeWindow(const QString& input, const QString& textOutput) {
    window::Seams seams;
    seams.chooseFile = [&](QWidget*, const window::DialogRequest& request) {
        return request.mode == window::DialogMode::Open ? input : textOutput;
    };
    seams.beep = [] {};
    seams.showError = [](QWidget*, const QString&, const QString& text) { fail(text); };
    window::Form1 form(seams);
    form.show();
    QCoreApplication::processEvents();
    auto* open = form.findChild<QAction*>(QStringLiteral("mOpen"));
    auto* convert = form.findChild<QAction*>(QStringLiteral("mConvert"));

    WindowTimes times;
    auto start = Clock::now();
    open->trigger();
    times.open = secondsSince(start);
    if (!convert->isEnabled()) {
        fail(QStringLiteral("Open did not finish"));
    }
    start = Clock::now();
    convert->trigger();
    times.convert = secondsSince(start);
    start = Clock::now();
    form.findChild<QAction*>(QStringLiteral("mSaveC"))->trigger();
    times.save = secondsSince(start);
    return times;
}

double timeConverter(const QString& cli, const QString& input) {
    QProcess process;
    const auto start = Clock::now();
    process.start(cli,
                  {QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("/dev/null"), input});
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
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr,
                     "usage: window_bench INPUT.bmp PATH/greyplanes-cli [RUNS [TEXT_OUTPUT]]\n");
        return 2;
    }
    const QString input = QString::fromLocal8Bit(argv[1]);
    const QString cli = QString::fromLocal8Bit(argv[2]);
    const int runs = argc >= 4 ? std::max(1, std::atoi(argv[3])) : 5;
    const QString textOutput =
        argc == 5 ? QString::fromLocal8Bit(argv[4]) : QStringLiteral("/dev/null");

    std::vector<double> opens, converts, saves, windows, converters;
    for (int run = 0; run < runs; ++run) {
        const WindowTimes w = timeWindow(input, textOutput);
        const double c = timeConverter(cli, input);
        opens.push_back(w.open);
        converts.push_back(w.convert);
        saves.push_back(w.save);
        windows.push_back(w.open + w.convert);
        converters.push_back(c);
        std::printf("run %d: window open %.3f s, convert %.3f s, save C code %.3f s; "
                    "converter %.3f s\n",
                    run + 1, w.open, w.convert, w.save, c);
        std::fflush(stdout);
    }
    std::vector<double> whole(windows);
    for (std::size_t i = 0; i < whole.size(); ++i) {
        whole[i] += saves[i];
    }
    const double converter = median(converters);
    std::printf("medians of %d runs: window open %.3f s, convert %.3f s, save C code %.3f s; "
                "converter %.3f s\n",
                runs, median(opens), median(converts), median(saves), converter);
    std::printf("open+convert / converter: %.2f\n", median(windows) / converter);
    std::printf("open+convert+save C code / converter: %.2f\n", median(whole) / converter);
    return 0;
}
