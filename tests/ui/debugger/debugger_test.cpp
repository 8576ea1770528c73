// The debugger's views on a real machine, offscreen: registers after a
// step, memory rows against xxd, edits through the bus, branch records
// against objdump, and a gutter breakpoint stopping the running machine.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "core/base/shared_state.h"
#include "core/machine/system.h"
#include "support/files.h"
#include "support/process.h"
#include "ui/debugger/dasm_ctrl.h"
#include "ui/debugger/dasm_dlg.h"
#include "ui/debugger/list_panes.h"
#include "ui/debugger/mem_ctrl.h"
#include "ui/debugger/memory_dlg.h"
#include "ui/debugger/reg_ctrl.h"

namespace {

constexpr u32 kBase = 0x06004000;
const std::string kElf = KEST_PROGRAMS_DIR "/sh2/debugger_program.elf";

std::string hex8(u32 v)
{
    char text[12];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
}

// What objdump says of the program: its labels and every instruction.
struct Listing {
    std::map<std::string, u32> labels;
    struct Line {
        u32 address;
        std::string mnemonic;
        u32 target;
    };
    std::vector<Line> lines;
};

Listing objdump()
{
    Listing listing;
    std::istringstream text(runCommand("sh4-linux-gnu-objdump -d " + kElf));
    for (std::string line; std::getline(text, line);) {
        unsigned address = 0;
        char name[64];
        if (std::sscanf(line.c_str(), "%8x <%63[^>]>:", &address, name) == 2) {
            listing.labels[name] = address;
            continue;
        }
        // " 6004000:\te3 05       \tmov\t#5,r3": address, bytes, mnemonic, operands.
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');)
            fields.push_back(field);
        if (fields.size() < 3 || std::sscanf(fields[0].c_str(), " %x:", &address) != 1)
            continue;
        const std::string mnemonic = fields[2].substr(0, fields[2].find(' '));
        unsigned target = 0;
        if (fields.size() > 3)
            std::sscanf(fields[3].c_str(), "%x", &target);
        listing.lines.push_back({address, mnemonic, target});
    }
    return listing;
}

class DebuggerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scheduler().clear();
        debugBreak = sliceResume = debugStopped = 0;
        sys = std::make_unique<CSystem>();
        sys->setup(0);
        const std::vector<u8> bytes = loadProgram("sh2", "debugger_program");
        ASSERT_FALSE(bytes.empty());
        std::memcpy(&sys->memory().workRamHigh[kBase & 0xFFFFF], bytes.data(), bytes.size());
        sys->powerOn();
        sys->master().setPC(kBase);
        debugBreak = 1;  // paused before the first instruction
    }
    void TearDown() override
    {
        sys.reset();
        scheduler().clear();
        debugBreak = sliceResume = debugStopped = 0;
    }
    void step()
    {
        sys->debugStepInto(sys->getCpu(0));
        // The machine's first pass only starts the field.
        for (int pass = 0; pass < 3 && !debugBreak; ++pass)
            sys->runFrame();
        ASSERT_EQ(debugBreak, 1);
    }

    std::unique_ptr<CSystem> sys;
};

// The rows of a data line, in the layout of `xxd -g1 -c16`.
std::string asXxd(const std::string& row)
{
    std::string line = row;
    line.erase(9, 1);  // xxd has one blank after the colon
    for (std::size_t i = 0; i < 8; ++i)
        line[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(line[i])));
    return line;
}

// A memory with one valid 32-byte window that counts reads outside it.
class WindowMem : public MemCtrl {
public:
    static constexpr u32 kFirst = 0x20000010;
    u8 bytes[32] = {};
    int strayReads = 0;
    int writes = 0;
    bool isValidAddress(u32 a) override { return a - kFirst < 32; }
    u8 readByte(u32 a) override
    {
        if (a - kFirst >= 32) {
            ++strayReads;
            return 0;
        }
        return bytes[a - kFirst];
    }
    void writeByte(u32 a, u8 v) override
    {
        ++writes;
        if (a - kFirst < 32)
            bytes[a - kFirst] = v;
    }
};

}  // namespace

TEST(TextCtrlTest, CaretWrapsAndSpansStopAtTheRowEnd)
{
    TextCtrl view;
    view.resize(300, 95);
    view.setFont(QStringLiteral("Courier New"), 20);
    EXPECT_EQ(view.visibleRows(), 4);
    view.setRowText(1, "abc");
    view.setColor(1, 10, 1, dbgcolor::kRed);
    EXPECT_EQ(view.colorAt(0, 1), dbgcolor::kBlack);
    EXPECT_EQ(view.colorAt(2, 1), dbgcolor::kRed);
    EXPECT_EQ(view.rowText(1), "abc");
    view.setColumnLimits(0, 7, true);
    view.moveCaret(8, 0);
    EXPECT_EQ(view.caretColumn(), 0);
    view.moveCaret(-1, 0);
    EXPECT_EQ(view.caretColumn(), 7);
    view.setColumnLimits(0, 7, false);
    view.moveCaret(12, 0);
    EXPECT_EQ(view.caretColumn(), 7);
}

TEST_F(DebuggerTest, RegistersRedForOneRefreshAfterAStepAndEditsReachTheProcessor)
{
    DasmDlg dialog(*sys);
    RegCtrl& regs = *dialog.registers();
    ASSERT_GE(regs.rowCount(), 28);
    EXPECT_EQ(regs.rowText(20), "PC   = " + hex8(kBase));
    EXPECT_EQ(regs.colorAt(7, 20), dbgcolor::kRed);  // non-zero at the first drawing
    EXPECT_EQ(regs.colorAt(7, 0), dbgcolor::kBlack);
    step();  // mov #5, r3
    dialog.refresh();
    EXPECT_EQ(regs.rowText(3), "R3   = 00000005");
    EXPECT_EQ(regs.colorAt(7, 3), dbgcolor::kRed);
    EXPECT_EQ(regs.colorAt(14, 3), dbgcolor::kRed);
    EXPECT_EQ(regs.colorAt(7, 2), dbgcolor::kBlack);
    step();  // mov #0, r1: R3 stays
    dialog.refresh();
    EXPECT_EQ(regs.colorAt(7, 3), dbgcolor::kBlack);
    EXPECT_EQ(regs.colorAt(7, 20), dbgcolor::kRed);
    EXPECT_EQ(dialog.disassembly()->cursor(), kBase);

    // Typing on the T digit sets the flag and the status register follows;
    // "5" on a binary digit does nothing.
    regs.setFocus();
    regs.moveCaret(14, 26);
    QTest::keyClick(&regs, Qt::Key_5);
    EXPECT_EQ(sys->master().getFlag(0), 0);
    regs.moveCaret(14, 26);
    QTest::keyClick(&regs, Qt::Key_1);
    EXPECT_EQ(sys->master().getFlag(0), 1);
    EXPECT_EQ(regs.rowText(24).substr(7), hex8(sys->master().getRegister(22)));
    EXPECT_EQ(sys->master().getRegister(22) & 1, 1u);
    // A nibble of R1 typed second from the right.
    regs.moveCaret(13, 1);
    QTest::keyClick(&regs, Qt::Key_A);
    EXPECT_EQ(sys->master().getRegister(1), 0xA0u);
    EXPECT_EQ(regs.colorAt(13, 1), dbgcolor::kRed);
    EXPECT_EQ(regs.caretColumn(), 14);
}

TEST_F(DebuggerTest, MemoryRowsMatchXxdAndEditsReadBackThroughTheBus)
{
    TempDir dir;
    const std::string file = (dir.path() / "bytes.bin").string();
    std::vector<u8> bytes(48);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<u8>(i * 37 + 11);
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 48);
    std::memcpy(&sys->memory().workRamHigh[0x6000], bytes.data(), bytes.size());

    KestMemCtrl view(*sys);
    view.resize(900, 400);
    view.setFont(QStringLiteral("Courier New"), 20);
    view.goTo(0x26006005);
    EXPECT_EQ(view.base(), 0x26006000u);
    EXPECT_EQ(view.caretColumn(), MemCtrl::kFirstDigit + 15);
    EXPECT_EQ(view.caretRow(), 1);
    std::istringstream xxd(runCommand("xxd -g1 -c16 -o 0x26006000 " + file));
    int row = 1;
    for (std::string line; std::getline(xxd, line); ++row)
        EXPECT_EQ(asXxd(view.rowText(row)), line) << "row " << row;
    EXPECT_EQ(row, 4);

    // 0x26006005 holds 0xC0: "4" on the high digit gives 0x40, "7" on the
    // low digit 0x47; the bus reads it back.
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_4);
    QTest::keyClick(&view, Qt::Key_7);
    PageMap& bus = *sys->master().pageMap();
    EXPECT_EQ(bus.readByte(&sys->master(), 0x06006005), 0x47);
    EXPECT_EQ(view.changedBytes(), std::vector<u32>{0x26006005});
    EXPECT_EQ(view.colorAt(MemCtrl::kFirstDigit + 15, 1), dbgcolor::kRed);
    EXPECT_EQ(view.colorAt(MemCtrl::kFirstChar + 5, 1), dbgcolor::kRed);
    EXPECT_EQ(view.caretColumn(), MemCtrl::kFirstDigit + 18);  // next byte
    // The character area takes characters.
    QTest::mouseClick(&view, Qt::LeftButton, {}, view.cellRect(MemCtrl::kFirstChar + 8, 2).center());
    QTest::keyClicks(&view, "Hi");
    EXPECT_EQ(bus.readByte(&sys->master(), 0x06006018), 'H');
    EXPECT_EQ(bus.readByte(&sys->master(), 0x06006019), 'i');
    // The BIOS is read-only: a write it does not keep is not marked.
    view.goTo(0x20000000);
    QTest::keyClick(&view, Qt::Key_F);
    EXPECT_TRUE(view.changedBytes().empty());
}

TEST(MemCtrlTest, UnmappedAddressesShowQuestionMarksAndAreNeitherReadNorWritten)
{
    WindowMem view;
    view.resize(900, 400);
    view.setFont(QStringLiteral("Courier New"), 20);
    view.bytes[0] = 0xA7;
    view.goTo(0x20000000);  // row 1 unmapped, row 2 and 3 mapped
    EXPECT_EQ(view.rowText(1),
              "20000000:  ?? ?? ?? ?? ?? ?? ?? ?? ?? ?? ?? ?? ?? ?? ?? ??  ????????????????");
    EXPECT_EQ(view.rowText(2).substr(0, 14), "20000010:  a7 ");
    QTest::keyClick(&view, Qt::Key_1);  // caret on an unmapped byte
    EXPECT_EQ(view.writes, 0);
    // Dragged far off: addresses at the end of the range wrap and stay "??".
    view.goTo(0xFFFFFFF8);
    EXPECT_EQ(view.rowText(1).substr(11, 6), "?? ?? ");
    EXPECT_EQ(view.strayReads, 0);
    // Down on the last row scrolls by one row, keeping the caret's column.
    view.goTo(0x20000010);
    for (int i = 0; i < 16; ++i)
        QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(view.base(), 0x20000020u);
    EXPECT_EQ(view.caretRow(), 16);
}

TEST_F(DebuggerTest, RegionTreeGoesToRegionsAndTakesTypedAddresses)
{
    MemoryDlg dialog(*sys);
    MemoryTemp& pane = *dialog.pane();
    QTreeWidget& tree = *pane.tree();
    ASSERT_EQ(tree.topLevelItemCount(), 13);
    EXPECT_EQ(pane.view()->base(), 0x20000000u);  // BIOS selected
    tree.setCurrentItem(tree.topLevelItem(3));
    EXPECT_EQ(tree.topLevelItem(3)->text(0), "WORKH");
    EXPECT_EQ(pane.view()->base(), 0x26000000u);
    pane.editEntry(tree.topLevelItem(12));
    QTest::keyClicks(pane.editor(), "6004zz0a7");  // letters other than hex are refused
    EXPECT_EQ(pane.editor()->text(), "60040A7");
    pane.editor()->setText("600400a");
    pane.applyEditor();
    EXPECT_EQ(tree.topLevelItem(12)->text(0), "0600400A");
    EXPECT_EQ(tree.topLevelItemCount(), 14);
    EXPECT_EQ(pane.view()->base(), 0x06004000u);
    // A double click reopens the editor on typed addresses only.
    for (int i : {6, 8, 9}) {  // SCSP, VDP1F0, VDP1F1
        Q_EMIT tree.itemDoubleClicked(tree.topLevelItem(i), 0);
        EXPECT_TRUE(pane.editor()->isHidden()) << i;
    }
    Q_EMIT tree.itemDoubleClicked(tree.topLevelItem(12), 0);
    EXPECT_FALSE(pane.editor()->isHidden());
    QTest::keyClick(pane.editor(), Qt::Key_Escape);
    // Region entries that must stay cannot be deleted; added ones can.
    tree.setCurrentItem(tree.topLevelItem(0));
    pane.deleteSelected();
    tree.setCurrentItem(tree.topLevelItem(12));
    pane.deleteSelected();
    EXPECT_EQ(tree.topLevelItemCount(), 13);
    EXPECT_EQ(tree.topLevelItem(0)->text(0), "BIOS");
}

TEST_F(DebuggerTest, BranchRecordsAndCallsMatchObjdump)
{
    const Listing listing = objdump();
    ASSERT_GT(listing.lines.size(), 10u);
    DasmCtrl view(&sys->master());
    view.resize(900, 21 * 20);
    view.setFont(QStringLiteral("Courier New"), 20);
    ASSERT_EQ(view.lines(), 20);
    view.goTo(kBase + 16);
    std::vector<DasmCtrl::Branch> expected;
    std::vector<u32> calls, returns, delayed;
    for (const auto& line : listing.lines) {
        if (line.mnemonic == "bra")
            expected.push_back({line.address, line.target, DasmCtrl::kUnconditional, 0});
        else if (line.mnemonic == "bt" || line.mnemonic == "bf" || line.mnemonic == "bt.s" ||
                 line.mnemonic == "bf.s")
            expected.push_back({line.address, line.target, DasmCtrl::kConditional, 0});
        else if (line.mnemonic == "bsr")
            calls.push_back(line.target);
        else if (line.mnemonic == "rts")
            returns.push_back(line.address);
    }
    std::vector<DasmCtrl::Branch> seen = view.branches();
    for (auto& b : seen)
        b.lane = 0;
    EXPECT_EQ(seen, expected);
    ASSERT_EQ(view.calls().size(), calls.size());
    EXPECT_EQ(view.calls()[0].target, calls[0]);
    EXPECT_EQ(view.returns(), returns);
    // Overlapping ranges take different lanes.
    for (std::size_t i = 0; i < view.branches().size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            const auto& a = view.branches()[i];
            const auto& b = view.branches()[j];
            if (std::min(a.from, a.to) <= std::max(b.from, b.to) && std::max(a.from, a.to) >= std::min(b.from, b.to)) {
                EXPECT_NE(a.lane, b.lane) << i << " " << j;
            }
        }
    }

    // Rows, a function annotation on the call and a comment keyed without
    // the top bits; the cursor line's target shows in magenta.
    const u32 sub = listing.labels.at("sub");
    const u32 call = sub - 8;
    view.functions()[sub & 0x0FFFFFFF] = "Sub";
    view.comments()[(call + 2) & 0x0FFFFFFF] = "slot";
    view.rebuild();
    const int line = view.lineOf(call);
    ASSERT_GE(line, 0);
    const std::string row = view.rowText(line + 1);
    EXPECT_TRUE(row.starts_with(hex8(call) + ":   " + sys->master().disassemble(call) + " ")) << row;
    EXPECT_EQ(row.substr(45), "* Sub *");
    EXPECT_EQ(view.colorAt(45, line + 1), dbgcolor::kRed);
    EXPECT_EQ(view.rowText(line + 2).substr(45), "// slot");
    EXPECT_EQ(view.colorAt(47, line + 2), dbgcolor::kGreen);
    view.selectLine(line);
    EXPECT_EQ(view.operand(), hex8(sub));
    EXPECT_EQ(view.rowText(0), hex8(call) + "             " + sys->master().name());

    // Copy: rows 1..lines, one per line.
    view.selectLine(0);
    const QString copied = view.copyText();
    EXPECT_EQ(copied.count(QLatin1Char('\n')), 20);
    EXPECT_TRUE(copied.startsWith(QString::fromStdString(hex8(kBase) + ":   mov #H'05, r3")));

    // Header: typed digits and Enter put the cursor there, eight lines down.
    view.setFocus();
    view.moveCaret(0, 0);
    QTest::keyClicks(&view, "fffffe00");
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(view.top(), 0xFFFFFDF0u);
    EXPECT_EQ(view.cursor(), 0xFFFFFE00u);
}

TEST_F(DebuggerTest, GutterBreakpointStopsTheRunningMachineAndThePcCanBeDragged)
{
    const Listing listing = objdump();
    const u32 sub = listing.labels.at("sub");
    DasmCtrl view(&sys->master());
    view.resize(900, 31 * 20);
    view.setFont(QStringLiteral("Courier New"), 20);
    view.followPC();
    EXPECT_EQ(view.top(), kBase - 16);
    // A PC one line below the window scrolls by one line; further off, the
    // PC lands eight lines below the top.
    sys->master().setPC(view.lineAddress(view.lines()));
    view.followPC();
    EXPECT_EQ(view.top(), kBase - 14);
    sys->master().setPC(kBase + 0x400);
    view.followPC();
    EXPECT_EQ(view.top(), kBase + 0x3F0);
    sys->master().setPC(kBase);
    view.followPC();
    EXPECT_EQ(view.top(), kBase - 16);
    const auto lineCentre = [&](u32 address) {
        return QPoint(8, (view.lineOf(address) + 1) * view.lineHeight() + view.lineHeight() / 2);
    };
    // Twice adds and removes; once more adds with a hit count of 1.
    QTest::mouseClick(&view, Qt::LeftButton, {}, lineCentre(sub));
    QTest::mouseClick(&view, Qt::LeftButton, {}, lineCentre(sub));
    EXPECT_EQ(sys->master().findBreakpoint(sub), nullptr);
    QTest::mouseClick(&view, Qt::LeftButton, {}, lineCentre(sub));
    ASSERT_NE(sys->master().findBreakpoint(sub), nullptr);
    EXPECT_EQ(sys->master().findBreakpoint(sub)->hitCount, 1);

    sys->debugRun();
    for (int field = 0; field < 3 && !debugBreak; ++field)
        sys->runFrame();
    ASSERT_EQ(debugBreak, 1);
    EXPECT_EQ(sys->master().getPC(), sub);
    EXPECT_EQ(sys->master().getRegister(3), 5u);

    // Right click disables it: the machine runs on past it.
    QTest::mouseRelease(&view, Qt::RightButton, {}, lineCentre(sub));
    EXPECT_FALSE(sys->master().findBreakpoint(sub)->enabled);

    // Dragging the PC marker to another line moves the PC there.
    view.followPC();
    const QPoint from = lineCentre(sub);
    const QPoint to(200, lineCentre(kBase).y());
    QTest::mousePress(&view, Qt::LeftButton, {}, from);
    EXPECT_TRUE(view.draggingPc());
    QMouseEvent move(QEvent::MouseMove, to, view.mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(&view, &move);
    QTest::mouseRelease(&view, Qt::LeftButton, {}, to);
    EXPECT_EQ(sys->master().getPC(), kBase);
}

TEST(ListPanesTest, ColumnsSampleRowsAndAddDialogs)
{
    DebugList breakpoints(DebugList::kBreakpoints);
    EXPECT_EQ(breakpoints.headerItem()->text(5), "Hit Count");
    ASSERT_EQ(breakpoints.topLevelItemCount(), 7);
    EXPECT_EQ(breakpoints.topLevelItem(0)->text(1), "xxx");
    EXPECT_EQ(breakpoints.topLevelItem(0)->checkState(0), Qt::Checked);
    const qint64 enabledIcon = breakpoints.topLevelItem(0)->icon(0).cacheKey();
    breakpoints.topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    EXPECT_NE(breakpoints.topLevelItem(0)->icon(0).cacheKey(), enabledIcon);
    DebugList watch(DebugList::kWatch);
    EXPECT_EQ(watch.columnCount(), 5);
    EXPECT_EQ(watch.headerItem()->text(4), "ASCII");
    DebugList bookmarks(DebugList::kBookmarks);
    std::unique_ptr<QDialog> add(bookmarks.makeAddDialog());
    EXPECT_EQ(add->windowTitle(), "Add bookmark");
    EXPECT_EQ(DebugList(DebugList::kCallStack).makeAddDialog(), nullptr);
}

TEST_F(DebuggerTest, DelaySlotShadingIsScannedAtTheShownSizeAndAltKeysNameTheKey)
{
    std::vector<u32> delayed;
    for (const auto& line : objdump().lines) {
        if (line.mnemonic == "bra" || line.mnemonic == "bsr" || line.mnemonic == "rts" || line.mnemonic.ends_with(".s"))
            delayed.push_back(line.address);
    }
    ASSERT_EQ(delayed.size(), 7u);
    DasmDlg dialog(*sys);
    dialog.refresh();  // a break while the window is still hidden
    dialog.show();
    ASSERT_GT(dialog.disassembly()->lines(), 10);
    EXPECT_EQ(dialog.disassembly()->delayedBranches(), delayed);

    QStringList boxes;
    setDebuggerMessage([&](QWidget*, const QString& caption, const QString& text) { boxes << caption + " " + text; });
    for (Qt::Key key : {Qt::Key_Home, Qt::Key_Up, Qt::Key_Down, Qt::Key_F5, Qt::Key_F10, Qt::Key_F11, Qt::Key_F6})
        QTest::keyClick(&dialog, key, Qt::AltModifier);
    setDebuggerMessage(nullptr);
    EXPECT_EQ(boxes.join(','), "DasmCtrl::OnSysKeyDown HOME,DasmCtrl::OnSysKeyDown UP,DasmCtrl::OnSysKeyDown DOWN,"
                               "DasmDlg::OnSysKeyDown F5,DasmCtrl::OnSysKeyDown F10,DasmCtrl::OnSysKeyDown F11");
}

TEST(ListPanesTest, AnyClickOnABreakpointRowSetsTheIconOfItsCheckBox)
{
    DebugList list(DebugList::kBreakpoints);
    list.resize(900, 300);
    list.show();
    // Rows 2 and 3 start with other images and a clear box.
    const auto textOf = [&](int row) { return QPoint(300, list.visualItemRect(list.topLevelItem(row)).center().y()); };
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, textOf(2));
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, textOf(3));
    EXPECT_EQ(list.topLevelItem(2)->icon(0).cacheKey(), list.topLevelItem(1)->icon(0).cacheKey());
    EXPECT_EQ(list.topLevelItem(3)->icon(0).cacheKey(), list.topLevelItem(1)->icon(0).cacheKey());
}
