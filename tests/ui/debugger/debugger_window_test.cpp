// The desktop program's debugger window on the X server that xvfb-run
// provides: shown with F12 after a pause, stepped with F7 typed into it by
// xdotool, and photographed into the build folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QAction>
#include <QImage>
#include <QScreen>
#include <chrono>
#include <cstdlib>

#include "core/base/shared_state.h"
#include "core/machine/system.h"
#include "support/files.h"
#include "support/lsan_suppressions.h"
#include "support/process.h"
#include "ui/app/dialogs.h"
#include "ui/app/main_frame.h"
#include "ui/debugger/dasm_ctrl.h"
#include "ui/debugger/dasm_dlg.h"
#include "ui/debugger/memory_dlg.h"
#include "ui/debugger/reg_ctrl.h"

namespace {

template <typename Done>
bool tickUntil(CMainFrame& frame, Done done, std::chrono::seconds limit = std::chrono::seconds(15))
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < until) {
        QApplication::processEvents();
        frame.update();
    }
    return done();
}

int countColour(const QImage& image, QRgb rgb)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += (image.pixel(x, y) & 0xFFFFFF) == (rgb & 0xFFFFFF);
    return n;
}

}  // namespace

TEST(DebuggerWindow, ShowsAfterAPauseAndStepsOnF7)
{
    TempDir data;
    QtDialogs dialogs;
    CMainFrame frame(data.path().string(), dialogs);
    ASSERT_TRUE(frame.create());
    frame.show();
    frame.openFile(QString::fromLatin1(KEST_BINARY_DIR "/testdata/boot.iso"), 0);
    ASSERT_TRUE(frame.opened());
    int ticks = 0;
    ASSERT_TRUE(tickUntil(frame, [&] { return ++ticks > 30; }));
    ASSERT_FALSE(frame.debugger()->isVisible());

    frame.command(CMainFrame::kEmulationPause, {});
    ASSERT_EQ(debugBreak, 1);
    frame.command(CMainFrame::kShowDebugger, {});
    DasmDlg& debugger = *frame.debugger();
    ASSERT_TRUE(tickUntil(frame, [&] { return debugger.isVisible() && debugStopped == 0; }));
    // It opens 200 pixels above the screen's centre (the screen is tall enough).
    const QRect area = debugger.screen()->availableGeometry();
    EXPECT_EQ(debugger.y(), area.y() + (area.height() - debugger.height()) / 2 - 200);
    CPU& cpu = *frame.emulator().getSystem().getCpu(0);
    const u32 pc = cpu.getPC();
    EXPECT_EQ(debugger.registers()->rowText(20), "PC   = " + QString::asprintf("%08X", pc).toStdString());

    // F7 typed into the debugger window steps the paused machine (the disc
    // spins on a branch to itself, so the PC stays), and the tick after the
    // step's stop refreshes the window: a register set meanwhile shows.
    int steps = 0;
    QObject::connect(frame.action(CMainFrame::kDebugStepInto), &QAction::triggered, [&] { ++steps; });
    cpu.setRegister(5, 0x1234);
    const std::string window = std::to_string(debugger.winId());
    runCommand("xdotool windowfocus --sync " + window + " key F7");
    ASSERT_TRUE(tickUntil(frame, [&] { return debugger.registers()->rowText(5) == "R5   = 00001234"; }));
    EXPECT_EQ(steps, 1);
    EXPECT_EQ(debugBreak, 1);
    EXPECT_EQ(debugger.registers()->colorAt(7, 5), dbgcolor::kRed);
    EXPECT_EQ(debugger.registers()->rowText(20), "PC   = " + QString::asprintf("%08X", cpu.getPC()).toStdString());
    EXPECT_GE(debugger.disassembly()->lineOf(cpu.getPC()), 0);
    // The same key in the main window, whose Debug menu is greyed.
    cpu.setRegister(5, 0x5678);
    runCommand("xdotool windowfocus --sync " + std::to_string(frame.winId()) + " key F7");
    ASSERT_TRUE(tickUntil(frame, [&] { return debugger.registers()->rowText(5) == "R5   = 00005678"; }));
    EXPECT_EQ(steps, 2);

    frame.command(CMainFrame::kToolsMemory, {});
    ASSERT_NE(frame.memoryWindow(), nullptr);
    EXPECT_TRUE(frame.memoryWindow()->isVisible());
    EXPECT_EQ(frame.memoryWindow()->windowTitle(), "Memory");
    frame.memoryWindow()->hide();
    frame.command(CMainFrame::kShowDebugger, {});

    const std::string png = KEST_BINARY_DIR "/kest_debugger.png";
    tickUntil(frame, [&] { return false; }, std::chrono::seconds(1));
    runCommand("import -window root " + png);
    const QImage shot = QImage(QString::fromStdString(png)).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(shot.isNull()) << png;
    // The disassembly's header band and the memory view are on screen.
    EXPECT_GT(countColour(shot, qRgb(217, 136, 176)), 5000) << png;
    EXPECT_GT(countColour(shot, qRgb(230, 230, 230)), 50000) << png;
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "no X server: run under xvfb-run\n");
        return 1;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
