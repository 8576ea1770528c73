// The host's share of a tick: handing the field to the view and drawing it
// stretched with the status line, and the pad delegate's poll.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdlib>

#include "core/base/shared_state.h"
#include "platform/canvas_view.h"
#include "platform/key_codes.h"
#include "ui/host/delegates.h"
#include "ui/host/host_video.h"

namespace {

// Counts paints, so the figure is known to include the drawing.
class CountingView : public CanvasView {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        ++paints;
        CanvasView::paintEvent(event);
    }
};

void BM_VideoUpdateAndPresent(benchmark::State& state)
{
    CountingView view;
    view.resize(800, 600);
    view.show();
    QApplication::processEvents();
    CD3d9 video;
    video.init(&view);
    hostDisplaySize = {static_cast<u32>(state.range(0)), static_cast<u32>(state.range(1))};
    for (u32 i = 0; i < 1024 * 1024; ++i)
        hostCanvas.pixels[i] = i * 2654435761u >> 8;
    video.start();
    video.resume();
    video.setText("FPS: 60/60(100%) CPU: 12% 320x224  \n");
    for (auto _ : state) {
        video.update();
        video.present();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["paints"] = view.paints;
}
BENCHMARK(BM_VideoUpdateAndPresent)->Args({320, 224})->Args({704, 480})->Unit(benchmark::kMicrosecond);

void BM_PadPoll(benchmark::State& state)
{
    CDInput8 input;
    PadDelegate pad(&input);
    for (auto _ : state) {
        input.keyEvent(HostKey::kW, true);
        input.keyEvent(HostKey::kW, false);
        pad.poll();
        benchmark::DoNotOptimize(pad.getData()[0]);
    }
}
BENCHMARK(BM_PadPoll);

}  // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
