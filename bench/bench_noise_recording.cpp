// Position-noise measurement with debug recording on, against the in-process
// simulator on a pseudo-terminal (no reply delay):
//   P5: read cycles per second of the noise measurement (btnPositionNoiseClick,
//       5000 read cycles, each reading the debug record and writing a CSV
//       row) divided by the rate of a bare read cycle: the same adapter
//       exchanges that one recorded cycle makes, sent with SerialTransaction
//       and nothing else. Whole phases, alternated in one run (target >= 0.7).
//   Memory: resident memory of continuous reading on the Debug tab with the
//       recording on, sampled over the given duration after a warm-up; the
//       growth must stay flat.
//
//   bench_noise_recording [--rounds N] [--memory-seconds S]
//   (defaults: 2 rounds, 60 s; the full figure is --memory-seconds 600)
#include "BareTerminal.h"
#include "BenchWindow.h"
#include "Q714_7R_Dravonel_SPI_Main.h"
#include "Q714_SPI_Dravonel.h"
#include "Serial_driver.h"
#include "SimFixture.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {

constexpr int NoiseCycles = 5000;

// The exchanges of one recorded read cycle (after the supply refresh).
QList<QByteArray> recordedCycleCommands(TMainForm& form, SimulatedAdapter& adapter) {
    form.btnReadEncoderClick();
    adapter.ClearReceivedCommands();
    form.btnReadEncoderClick();
    return adapter.TakeReceivedCommands();
}

double secondsOf(const std::function<void()>& phase) {
    QElapsedTimer clock;
    clock.start();
    phase();
    return clock.nsecsElapsed() / 1e9;
}

int lineCount(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return static_cast<int>(file.readAll().count('\n'));
}

void measureThroughput(TMainForm& form, SimulatedAdapter& adapter, int rounds) {
    const QList<QByteArray> cycle = recordedCycleCommands(form, adapter);
    QByteArray reply;
    const auto bareCycles = [&] {
        for (int i = 0; i < NoiseCycles; ++i)
            for (const QByteArray& command : cycle)
                SerialTransaction(COMPortHandle, command, 0, reply);
    };
    const auto bareFrames = [&] {
        for (int i = 0; i < NoiseCycles; ++i)
            SerialTransaction(COMPortHandle, cycle.first(), 0, reply);
    };
    // Rounds alternate the order (noise, bare, then bare, noise), so a load
    // that drifts during the run weighs on both sides alike.
    double noiseSeconds = 0, bareSeconds = 0, frameSeconds = 0;
    for (int round = 0; round < rounds; ++round) {
        double noise = 0, bare = 0;
        const auto noisePhase = [&] { noise = secondsOf([&] { form.btnPositionNoiseClick(); }); };
        const auto barePhase = [&] { bare = secondsOf(bareCycles); };
        if (round % 2 == 0)
            noisePhase(), barePhase();
        else
            barePhase(), noisePhase();
        frameSeconds += secondsOf(bareFrames);
        adapter.ClearReceivedCommands();
        std::printf("   round %d: noise measurement %.1f s, bare cycles %.1f s\n", round + 1, noise,
                    bare);
        noiseSeconds += noise;
        bareSeconds += bare;
    }
    const double cycles = double(NoiseCycles) * rounds;
    std::printf("P5 noise measurement with debug recording: %.0f cycles/s; bare recorded cycle "
                "(%lld exchanges) %.0f/s; ratio %.3f (target >= 0.7)\n",
                cycles / noiseSeconds, static_cast<long long>(cycle.size()), cycles / bareSeconds,
                bareSeconds / noiseSeconds);
    std::printf("   for comparison, the bare frame exchange of P3: %.0f/s\n",
                cycles / frameSeconds);
}

// The in-process simulator lists every command it receives; the run empties
// the list as q714-sim does, so that only the tool's memory is measured.
void measureMemory(TMainForm& form, SimulatedAdapter& adapter, int seconds) {
    form.Page->setCurrentWidget(form.tabDebug);
    const int warmUpMs = std::max(5000, seconds * 100);
    long startKiB = 0, highestKiB = 0;
    QTimer sampler;
    QTimer simulatorLog;
    QObject::connect(&simulatorLog, &QTimer::timeout, [&] { adapter.ClearReceivedCommands(); });
    simulatorLog.start(100);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const long now = ResidentMemoryKiB();
        highestKiB = std::max(highestKiB, now);
    });
    QTimer::singleShot(warmUpMs, [&] {
        startKiB = highestKiB = ResidentMemoryKiB();
        sampler.start(1000);
    });
    QTimer::singleShot(warmUpMs + seconds * 1000,
                       [&] { form.cbReadEncConstantly->setChecked(false); });
    const double before = form.FrameCounter;
    form.cbReadEncConstantly->setChecked(true);
    form.cbReadEncConstantlyClick();
    const long endKiB = ResidentMemoryKiB();
    std::printf("Memory over %d s of continuous recording on the Debug tab (%.0f cycles): "
                "resident %ld KiB after warm-up, %ld KiB at the end, highest %ld KiB, "
                "growth %+ld KiB\n",
                seconds, form.FrameCounter - before, startKiB, endKiB, highestKiB,
                endKiB - startKiB);
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"rounds", "Alternated rounds of the throughput phases.", "n", "2"});
    parser.addOption({"memory-seconds", "Duration of the memory run (0 skips it).", "s", "60"});
    parser.process(app);

    SimFixture sim(QStringLiteral("t2-mt17"));
    sim.Adapter().WithEncoder([](SimulatedEncoder& e) { e.SetSpeedRpm(0); });
    if (!sim.Serving() || !sim.Announce(QStringLiteral("q714-bench")))
        return std::printf("P5: the simulator did not start\n"), 1;
    WindowFixture window(QStringLiteral("bench"), WindowFixture::KeepRuntimeFolder);
    TMainForm& form = window.Form();
    if (!ConnectWindowToSimulator(form))
        return std::printf("P5: no encoder connected\n"), 1;
    QTemporaryDir folder;
    form.DebugRecordFolder = folder.path();
    form.Page->setCurrentWidget(form.tabTest);
    form.cbShranjujMeritveDebug->setChecked(true);
    if (!form.ShraniFajl)
        return std::printf("P5: the recording did not start\n"), 1;
    const QString path = form.ShraniFajl->fileName();
    const double cyclesBefore = form.FrameCounter;

    measureThroughput(form, sim.Adapter(), parser.value("rounds").toInt());
    if (const int seconds = parser.value("memory-seconds").toInt(); seconds > 0)
        measureMemory(form, sim.Adapter(), seconds);

    const int rows = lineCount(path) - 1;
    if (!form.Memo1->toPlainText().isEmpty() || rows != int(form.FrameCounter - cyclesBefore))
        return std::printf("P5: readings failed or rows missing (%d rows):\n%s\n", rows,
                           qPrintable(form.Memo1->toPlainText())),
               1;
    return 0;
}
