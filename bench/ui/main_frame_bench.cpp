// The main window's tick on the demo disc, running and held by Emulation >
// Pause: the processor time of the whole program per tick, against the
// same 60 ticks a second of wall time. Held, a tick draws again only when
// its status text changes.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <stdlib.h>

#include <filesystem>

#include "ui/app/dialogs.h"
#include "ui/app/main_frame.h"
#include "core/machine/system.h"
#include "platform/canvas_view.h"

namespace {

class SilentDialogs : public Dialogs {
public:
    void message(QWidget*, const QString&) override {}
    int choose(QWidget*, const QString&, const QStringList& answers) override
    {
        return static_cast<int>(answers.size()) - 1;
    }
    QString openFile(QWidget*, const QString&) override { return {}; }
    QString chooseDrive(QWidget*, const QStringList&) override { return {}; }
    void about(QWidget*, const QString&, const QString&, const QString&) override {}
};

// Counts the picture's paints: the figure shows what the held tick leaves out.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

void BM_MainFrameTick(benchmark::State& state)
{
    const bool held = state.range(0) != 0;
    char folder[] = "/tmp/kest-bench-frame-XXXXXX";
    if (!mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    {
        SilentDialogs dialogs;
        CMainFrame frame(folder, dialogs);
        if (!frame.create()) {
            state.SkipWithError("the window cannot start");
            return;
        }
        frame.show();
        QApplication::setActiveWindow(&frame);
        frame.openFile(QStringLiteral(KEST_DEMO_DISC), 0);
        // A second of the game first, so its picture is up.
        for (int i = 0; i < 60; ++i) {
            QApplication::processEvents();
            frame.update();
        }
        if (held)
            frame.command(CMainFrame::kEmulationPause, Qt::NoModifier);
        if (!frame.running() || frame.emulator().getSystem().frameCounter() == 0) {
            state.SkipWithError("cannot run " KEST_DEMO_DISC);
        } else {
            PaintCounter counter;
            frame.view()->installEventFilter(&counter);
            for (auto _ : state) {
                QApplication::processEvents();
                frame.update();
            }
            state.counters["paints_per_tick"] = benchmark::Counter(counter.paints, benchmark::Counter::kAvgIterations);
        }
        frame.command(CMainFrame::kFileExit, Qt::NoModifier);
    }
    std::filesystem::remove_all(folder);
}
// Paced ticks: the iterations follow wall time, and CPU is the figure.
BENCHMARK(BM_MainFrameTick)
    ->ArgName("held")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->MinTime(3.0)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
