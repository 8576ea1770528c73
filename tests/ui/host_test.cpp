#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <cstdio>
#include <fstream>
#include <set>

#include "core/base/shared_state.h"
#include "platform/canvas_view.h"
#include "platform/key_codes.h"
#include "support/files.h"
#include "support/process.h"
#include "platform/console_window.h"
#include "ui/host/delegates.h"
#include "ui/host/frame_pacer.h"
#include "ui/host/host_video.h"
#include "ui/host/language.h"
#include "ui/host/log_console.h"

namespace {

// A clock that moves only when asked: each wait is 1 ms, each read may
// add a fixed step.
class FakeFreq : public CFreq {
public:
    explicit FakeFreq(float rate) : CFreq(rate) {}
    u64 time = 0;
    u64 step = 0;
    int waits = 0;

protected:
    void wait() override
    {
        time += 1000000;
        ++waits;
    }
    u64 now() override { return time += step; }
};

class FakeMeter : public CpuMeter {
public:
    host::CpuTimes next;
    int reads = 0;

protected:
    bool read(host::CpuTimes& times) override
    {
        times = next;
        ++reads;
        return true;
    }
};

}  // namespace

TEST(FramePacing, SleepsThenSpinsAndNeverMakesUpALateFrame)
{
    FakeFreq pacer(60.0f);
    const u64 period = 1000000000 / 60;
    pacer.time = 5000000;
    pacer.tick(true);  // the first deadline lies in the past
    EXPECT_EQ(pacer.waits, 0);

    // On time: sleeps while more than 1 ms remains, then spins to the deadline.
    pacer.step = 100000;
    pacer.tick(true);
    EXPECT_EQ(pacer.waits, 15);
    const u64 deadline = 5000000 + period;
    EXPECT_GE(pacer.time, deadline);
    EXPECT_LT(pacer.time, deadline + 200000);

    // 50 ms late: no wait, and the next deadline is one period from now.
    pacer.waits = 0;
    pacer.time += 50000000;
    pacer.tick(true);
    EXPECT_EQ(pacer.waits, 0);
    const u64 lateEnd = pacer.time;
    pacer.tick(true);
    EXPECT_GE(pacer.time, lateEnd + period - 200000);
    EXPECT_LT(pacer.time, lateEnd + period + 200000);
}

TEST(FramePacing, MeasuresEveryHalfSecondOfTicks)
{
    FakeFreq pacer(50.0f);
    pacer.tick(false);  // the first measurement runs against time 0
    for (int i = 0; i < 24; ++i) {
        pacer.time += 20000000;
        pacer.tick(false);
    }
    EXPECT_EQ(pacer.getRate(false), 0.0f);  // 25 ticks at 50 Hz before a measurement
    pacer.time += 20000000;
    pacer.tick(false);
    EXPECT_FLOAT_EQ(pacer.getRate(false), 50.0f);
    EXPECT_FLOAT_EQ(pacer.getRate(true), 100.0f);
}

TEST(CpuMeter, RecomputesEverySixtiethCallAndGuardsAnEmptyInterval)
{
    EXPECT_EQ(CpuMeter::share(750, 100, 150, 0), 25);
    EXPECT_EQ(CpuMeter::share(0, 0, 0, 42), 42);

    FakeMeter meter;
    meter.next = {300, 50, 50};
    EXPECT_EQ(meter.measure(), 25);
    meter.next = {0, 0, 0};
    for (int i = 1; i < 60; ++i)
        EXPECT_EQ(meter.measure(), 25);
    EXPECT_EQ(meter.reads, 1);
    meter.next = {300, 50, 50};  // nothing moved since the last reading
    EXPECT_EQ(meter.measure(), 25);
    EXPECT_EQ(meter.reads, 2);
}

TEST(HostVideo, StretchesTheDisplayedPartOverTheViewOpaque)
{
    CanvasView view;
    view.resize(640, 480);
    CD3d9 video;
    ASSERT_TRUE(video.init(&view));
    ASSERT_EQ(hostCanvas.pixels, view.pixels());
    // Started first: a game starts on a cleared canvas.
    video.start();
    video.resume();
    // Quadrants of a 320 x 224 display, written as the compositor does.
    for (u32 y = 0; y < 224; ++y) {
        for (u32 x = 0; x < 320; ++x)
            hostCanvas.pixels[y * hostCanvas.pitch + x] = x < 160 ? (y < 112 ? 0xFF0000 : 0x0000FF)
                                                                  : (y < 112 ? 0x00FF00 : 0xFFFFFF);
    }
    hostCanvas.pixels[300 * hostCanvas.pitch + 500] = 0xFF00FF;  // outside the display
    hostDisplaySize = {320, 224};
    video.setText("FPS: 60/60(100%) CPU: 5% 320x224  \n");
    ASSERT_TRUE(video.update());
    const QImage shot = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), QSize(640, 480));
    EXPECT_EQ(shot.pixel(160, 360), 0xFF0000FFu);
    EXPECT_EQ(shot.pixel(480, 120), 0xFF00FF00u);
    EXPECT_EQ(shot.pixel(480, 360), 0xFFFFFFFFu);
    EXPECT_EQ(shot.pixel(200, 200), 0xFFFF0000u);
    int yellow = 0;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 320; ++x) {
            const QRgb p = shot.pixel(x, y);
            yellow += qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) < 60;
        }
    }
    EXPECT_GT(yellow, 50);  // the status line
    shot.save(QString::fromUtf8(KEST_BINARY_DIR "/host_video_stretch.png"));

    // 0 and oversized sizes draw the whole canvas.
    EXPECT_EQ(CD3d9::clampSize(0), 1024u);
    EXPECT_EQ(CD3d9::clampSize(1025), 1024u);
    EXPECT_EQ(CD3d9::clampSize(704), 704u);
}

TEST(Delegates, PadAndKeyboardFollowTheKeysOfEachPoll)
{
    CDInput8 input;
    KestDelegate kest(&input);
    auto pad = kest.createPad();
    pad->poll();
    EXPECT_EQ(pad->getData()[0], 0xFF);
    EXPECT_EQ(pad->getData()[1], 0xFF);

    input.keyEvent(HostKey::kW, true);  // Up
    input.keyEvent(HostKey::kP, true);  // R
    pad->poll();
    EXPECT_EQ(pad->getData()[0], 0xEF);
    EXPECT_EQ(pad->getData()[1], 0x7F);
    pad->poll();  // held
    EXPECT_EQ(pad->getData()[0], 0xEF);
    input.keyEvent(HostKey::kW, false);
    input.keyEvent(HostKey::kH, true);  // Start pressed and let go in one frame
    input.keyEvent(HostKey::kH, false);
    pad->poll();
    EXPECT_EQ(pad->getData()[0], 0xFF);

    auto keyboard = std::static_pointer_cast<Keyboard>(kest.createKeyboard());
    input.keyEvent(HostKey::kEscape, true);
    input.keyEvent(HostKey::kEscape, false);
    input.keyEvent(HostKey::kA, true);
    keyboard->poll();
    EXPECT_EQ(keyboard->getData()[0], 0xBF);  // A held: Left
    EXPECT_EQ(keyboard->getData()[2], 0x0E);
    EXPECT_EQ(keyboard->getData()[3], 0x76);
    keyboard->poll();  // the break of Escape is not lost
    EXPECT_EQ(keyboard->getData()[2], 0x07);
    EXPECT_EQ(keyboard->getData()[3], 0x76);
    keyboard->poll();
    EXPECT_EQ(keyboard->getData()[2], 0x0E);
    EXPECT_EQ(keyboard->getData()[3], 0x1C);
    keyboard->poll();
    EXPECT_EQ(keyboard->getData()[2], 0x06);
    EXPECT_EQ(keyboard->getData()[3], 0x00);
    EXPECT_EQ(keyboard->lastEvent, Keyboard::kNoEvent);

    auto joystick = std::static_pointer_cast<JoystickDelegate>(kest.createJoystick());
    for (u32 i = 2; i < 5; ++i)
        EXPECT_EQ(joystick->getData()[i], 0x80);
    input.keyEvent(HostKey::kLeft, true);
    joystick->poll();
    EXPECT_EQ(joystick->getData()[2], 0x00);
    input.keyEvent(HostKey::kLeft, false);
    joystick->poll();
    EXPECT_EQ(joystick->getData()[2], 0x80);
}

TEST(Delegates, MouseReportsMovesAndButtonsAsTheShuttleMouse)
{
    CDInput8 input;
    KestDelegate kest(&input);
    auto mouse = kest.createMouse();
    input.mouseMove(300, 0);
    input.mouseButton(0, true);
    mouse->poll();
    EXPECT_EQ(mouse->getData()[0], 0x41);  // X overflow, left button in bit 0
    EXPECT_EQ(mouse->getData()[1], 0x2C);
    input.mouseMove(0, -10);  // 10 counts up
    input.mouseButton(0, false);
    input.mouseButton(1, true);
    input.mouseWheel(-120);
    mouse->poll();
    EXPECT_EQ(mouse->getData()[0], 0x0A);  // wheel towards the user, right button in bit 1
    EXPECT_EQ(mouse->getData()[1], 0x00);
    EXPECT_EQ(mouse->getData()[2], 0x0A);
    input.mouseMove(-5, 3);
    input.mouseButton(1, false);
    mouse->poll();
    EXPECT_EQ(mouse->getData()[0], 0x30);  // both signs
    EXPECT_EQ(mouse->getData()[1], 0xFB);
    EXPECT_EQ(mouse->getData()[2], 0xFD);
}

TEST(Language, DefaultSettingsAndLanguageFiles)
{
    TempDir dir;
    const std::string ini = dir.file("kest.ini");
    ASSERT_TRUE(language::writeDefaultSettings(ini));
    const std::vector<u8> bytes = readBytes(ini);
    int lines = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ++lines;
            ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "line " << lines;
        }
    }
    EXPECT_EQ(lines, 84);
    EXPECT_EQ(bytes.size(), 1345u + 84u);

    const std::string lang = dir.file("lang");
    EXPECT_TRUE(language::find(lang).empty());  // the folder is created
    const auto write = [&](const char* name, const char* text) { std::ofstream(lang + "/" + name) << text; };
    write("ja_JP.ini", "[Language]\nName = 日本語\nLanguage = 言語\n[Credits]\nTranslation = 翻訳\nTranslator = 山田\n");
    write("en_US.ini", "[Language]\nName = English\n");
    write("readme.ini", "[Language]\nName = Readme\n");
    write("de_d.ini", "[Language]\nName = Short\n");
    const auto entries = language::find(lang);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].code, "en_US");
    EXPECT_EQ(entries[0].command, 33000);
    EXPECT_EQ(entries[1].code, "ja_JP");
    EXPECT_EQ(entries[1].command, 33001);
    EXPECT_EQ(entries[1].label, QString::fromUtf8("日本語"));
    EXPECT_EQ(language::text(language::filePath(lang, "ja_JP"), "Language", "Language"), QString::fromUtf8("言語"));

    const QString credits = language::credits(language::filePath(lang, "ja_JP"));
    EXPECT_TRUE(credits.contains(QString::fromUtf8("翻訳\n=================\n山田")));
    EXPECT_FALSE(credits.contains(QStringLiteral("Special thanks")));  // missing keys give empty headings
    EXPECT_TRUE(language::credits(dir.file("none.ini")).startsWith(QStringLiteral("Special thanks\n")));
}

// Every letter of every shipped language file is in some installed font,
// so no menu shows empty boxes.
TEST(Language, EveryShippedLanguageHasAFontForItsLetters)
{
    for (const char* code : {"en_US", "ja_JP"}) {
        const std::string file = std::string(KEST_SOURCE_DIR "/ui/app/lang/") + code + ".ini";
        const QString text = QString::fromUtf8(reinterpret_cast<const char*>(readBytes(file).data()),
                                               static_cast<qsizetype>(readBytes(file).size()));
        std::set<char32_t> letters;
        for (const char32_t c : text.toUcs4())
            if (c > 0x7F)
                letters.insert(c);
        std::string charset;
        for (const char32_t c : letters)
            charset += QString::number(static_cast<uint>(c), 16).toStdString() + " ";
        if (charset.empty())
            continue;
        EXPECT_NE(runCommand("fc-list ':charset=" + charset + "' family"), "") << code << " needs a font";
    }
}

// The log's window: console colours on black, bright with the intensity
// bit; a flood keeps only what the scrollback holds.
TEST(LogConsole, WindowShowsEachPieceInItsColourAndKeepsABoundedScrollback)
{
    EXPECT_EQ(ConsoleWindow::colourOf(4 | 8), QColor(255, 85, 85));
    EXPECT_EQ(ConsoleWindow::colourOf(7 | 8), QColor(255, 255, 255));
    EXPECT_EQ(ConsoleWindow::colourOf(2), QColor(0, 170, 0));
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    logSink().setWriter([](void* file, const char* text, std::size_t n) { std::fwrite(text, 1, n, static_cast<std::FILE*>(file)); },
                        out);
    ConsoleWindow window(QStringLiteral("log"));
    {
        LogConsole console(true, out, false);
        console.attach(window);
        logSink().write(kLogError, "INIT", "Sound");
        window.flush();
        QTextCursor cursor(window.document());
        cursor.movePosition(QTextCursor::End);
        cursor.movePosition(QTextCursor::PreviousCharacter);
        EXPECT_EQ(cursor.charFormat().foreground().color(), QColor(255, 85, 85));
        for (int i = 0; i < ConsoleWindow::kScrollbackLines + 50; ++i)
            logSink().write(kLogInfo, "T", "line %d", i);
    }
    logSink().write(kLogInfo, "X", "after");
    logSink().setWriter(nullptr, nullptr);
    const QString shown = window.toPlainText();
    EXPECT_FALSE(shown.contains(QStringLiteral("INIT: Sound")));  // scrolled out
    EXPECT_TRUE(shown.endsWith(QStringLiteral("T: line %1\n").arg(ConsoleWindow::kScrollbackLines + 49)));
    EXPECT_FALSE(shown.contains(QStringLiteral("after")));
    // The terminal, or whatever held the log before the window, saw it all.
    std::string text(1 << 20, '\0');
    std::rewind(out);
    text.resize(std::fread(text.data(), 1, text.size(), out));
    std::fclose(out);
    EXPECT_EQ(text.rfind("INIT: Sound\n", 0), 0u);
    EXPECT_NE(text.find("X: after\n"), std::string::npos);
}

// With the window attached, a redirected standard output still gets the log line by line.
TEST(LogConsole, AnAttachedWindowLeavesTheLogLineByLine)
{
    TempDir dir;
    ConsoleWindow window(QStringLiteral("log"));
    if (fork() == 0) {
        std::freopen(dir.file("log.txt").c_str(), "w", stdout);  // block-buffered, as a file is
        LogConsole console(true);
        console.attach(window);
        logSink().write(kLogError, "INIT", "Sound");
        _exit(0);  // dies without a flush
    }
    ::wait(nullptr);
    EXPECT_EQ(readText(dir.file("log.txt")), "INIT: Sound\n");
}

TEST(LogConsole, ColoursEachPieceBrightAndLetsGoOfTheSink)
{
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    logSink().setWriter([](void* file, const char* text, std::size_t n) { std::fwrite(text, 1, n, static_cast<std::FILE*>(file)); },
                        out);
    {
        LogConsole console(true, out, true);
        logSink().write(kLogError, "INIT", "Sound");
        logSink().write(kLogWarning, "", "late");
        console.setColour(0);
        EXPECT_EQ(console.attribute(), 7);
        console.setColour(9);
        EXPECT_EQ(console.attribute(), 7);
    }
    logSink().write(kLogInfo, "X", "after");
    logSink().setWriter(nullptr, nullptr);
    std::string text(4096, '\0');
    std::rewind(out);
    text.resize(std::fread(text.data(), 1, text.size(), out));
    std::fclose(out);
    EXPECT_EQ(text, "\x1b[97mINIT: \x1b[91mSound\n\x1b[93mlate\n\x1b[97m\x1b[97m\x1b[0mX: after\n");
}
