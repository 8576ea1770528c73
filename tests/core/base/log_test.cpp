#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "core/base/object.h"
#include "support/log_capture.h"

TEST(Log, TagInTagColourThenMessageInKindColour)
{
    LogCapture log(true);
    Object chip("SH2.DMAC");
    chip.logError(1, "Bad RB [A: %08X]", 0x12345678u);
    chip.logWarning(1, "w");
    chip.logInfo(1, "i");
    chip.logDebug(1, "d");
    chip.logTrace(1, "t");
    EXPECT_EQ(log.text(),
              "{0}SH2.DMAC: {1}Bad RB [A: 12345678]\n"
              "{0}SH2.DMAC: {4}w\n"
              "{0}SH2.DMAC: {2}i\n"
              "{0}SH2.DMAC: {6}d\n"
              "{0}SH2.DMAC: {5}t\n");
}

TEST(Log, SinkWithoutTagHasNoPrefixAndUnknownKindKeepsColour)
{
    LogCapture log(true);
    logSink().write(kLogInfo, nullptr, "plain %d", 7);
    logSink().write(kLogInfo, "", "empty tag");
    logSink().write(9, "CUE", "kind nine");
    EXPECT_EQ(log.text(), "{2}plain 7\n{2}empty tag\n{0}CUE: kind nine\n");
}

TEST(Log, ColourCallbackNeedsBothCallbackAndContext)
{
    LogCapture log(false);
    int calls = 0;
    logSink().setColorCallback([](void* c, int) { ++*static_cast<int*>(c); }, nullptr);
    logSink().write(kLogError, "X", "no context");
    EXPECT_EQ(calls, 0);
    logSink().setColorCallback([](void* c, int) { ++*static_cast<int*>(c); }, &calls);
    logSink().write(kLogError, "X", "with context");
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(log.text(), "X: no context\nX: with context\n");
}

TEST(Log, PercentInAnArgumentPrintsLiterally)
{
    LogCapture log;
    Object cue("CUE");
    cue.logError(1, "Failed to open [path: %s]", "disc%s%n%d.bin");
    EXPECT_EQ(log.text(), "CUE: Failed to open [path: disc%s%n%d.bin]\n");
}

TEST(Log, MessagesAreCutAt511AndLinesAt1022Characters)
{
    LogCapture log;
    const std::string big(3000, 'x');
    Object chip("T");
    chip.logInfo(1, "%s", big.c_str());
    EXPECT_EQ(log.text(), "T: " + std::string(254, 'x') + "..." + std::string(254, 'x') + "\n");

    log.clear();
    logSink().write(kLogInfo, "T", "%s", big.c_str());
    EXPECT_EQ(log.text(), "T: " + std::string(509, 'x') + "..." + std::string(510, 'x') + "\n");
}

// A path that would run its message past the limit loses its middle, not
// the reason after it; every other conversion reads as printf puts it.
TEST(Log, ALongPathLosesItsMiddleNotTheReasonAfterIt)
{
    LogCapture log;
    const std::string path = "/" + std::string(300, 'a') + "/" + std::string(300, 'b') + "/disc.cue";
    Object("T").logError(1, "Open [path: %s, A: %08X, n: %d, z: %zu, l: %lld, f: %.1f, c: %c, %%, w: %*d]: %s",
                         path.c_str(), 0xBEEFu, -5, std::size_t{7}, -9ll, 2.5, 'x', 4, 3, "the reason");
    EXPECT_EQ(log.text().size(), 3 + 511 + 1u) << log.text();
    EXPECT_TRUE(log.text().starts_with("T: Open [path: /aaa")) << log.text();
    EXPECT_NE(log.text().find("a...b"), std::string::npos) << log.text();
    EXPECT_TRUE(log.text().ends_with("b/disc.cue, A: 0000BEEF, n: -5, z: 7, l: -9, f: 2.5, c: x, %, w:    3]: "
                                     "the reason\n"));
    // The format's own words, when nothing else gives way, lose their end between whole characters.
    log.clear();
    Object("T").logError(1, (std::string(509, 'x') + "\u3042\u3042 %d").c_str(), 5);
    EXPECT_EQ(log.text(), "T: " + std::string(509, 'x') + "\n");
    log.clear();  // so does a cut left to printf, at a conversion the fitting does not know
    Object("T").logError(1, (std::string(509, 'x') + "\u3042 %lc").c_str(), static_cast<wint_t>(L'y'));
    EXPECT_EQ(log.text(), "T: " + std::string(509, 'x') + "\n");
}

TEST(Log, OnlyLevelOneShowsAndTheSwitchSilences)
{
    LogCapture log;
    Object chip("VDP1");
    chip.logInfo(2, "Frame: %d", 1);
    chip.logDebug(3, "detail");
    chip.logTrace(4, "dump");
    EXPECT_EQ(log.text(), "");
    chip.logInfo(1, "shown");
    chip.setEnabled(0);
    chip.logError(1, "hidden");
    EXPECT_EQ(log.text(), "VDP1: shown\n");
    chip.setEnabled(1);
    chip.setThreshold(2);
    chip.logInfo(2, "now shown");
    EXPECT_EQ(log.text(), "VDP1: shown\nVDP1: now shown\n");
}

TEST(Log, LinesFromTwoThreadsNeverInterleave)
{
    LogCapture log;
    auto writer = [](char c) {
        Object o(std::string(1, c));
        const std::string body(200, c);
        for (int i = 0; i < 500; ++i)
            o.logInfo(1, "%s%03d", body.c_str(), i);
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    const std::string& text = log.text();
    std::size_t lines = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = text.substr(start, end - start);
        const char c = line[0];
        EXPECT_EQ(line.substr(0, 203), std::string(1, c) + ": " + std::string(200, c));
        EXPECT_EQ(line.size(), 206u);
        ++lines;
        start = end + 1;
    }
    EXPECT_EQ(lines, 1000u);
}

// Text from a disc or a guest cannot steer the terminal.
TEST(Log, ControlCharactersAreShownEscaped)
{
    LogCapture log;
    Object o("KEST");
    o.logInfo(1, "Start (%s)", "\x1B[2J\tTITLE\r\x7F\xE3\x81\x82");
    o.logInfo(1, "%s", "ABCDEFG\x7FHIJKLMNOPQRSTUV\x01");
    o.logInfo(1, "%s", "\xE3\x81\x82\xC2\x9B\xFF\x80\x20\t~");
    EXPECT_EQ(log.text(), "KEST: Start (\\x1B[2J\tTITLE\\x0D\\x7F\xE3\x81\x82)\n"
                          "KEST: ABCDEFG\\x7FHIJKLMNOPQRSTUV\\x01\n"
                          "KEST: \xE3\x81\x82\xC2\x9B\xFF\x80\x20\t~\n");
}

// A run of identical lines shows the first few, then one counting line when
// the run ends or the sink is flushed.
TEST(Log, RepeatedLinesCollapseIntoACount)
{
    LogCapture log;
    Object o("SH2(M)");
    for (u32 pc : {0x100u, 0x102u, 0x104u})
        for (int i = 0; i < (pc == 0x102 ? 4 : 1000); ++i)
            o.logError(1, "Address error [PC: %08X]", pc);
    Object("SH2(S)").logError(1, "Address error [PC: %08X]", 0x104);
    logSink().flush();
    const std::string a = "SH2(M): Address error [PC: 00000100]\n";
    const std::string b = "SH2(M): Address error [PC: 00000102]\n";
    const std::string c = "SH2(M): Address error [PC: 00000104]\n";
    EXPECT_EQ(log.text(), a + a + a + a + "SH2(M): (the line above repeated 996 more times)\n" + b + b + b + b + c + c +
                              c + c + "SH2(M): (the line above repeated 996 more times)\n" +
                              "SH2(S): Address error [PC: 00000104]\n");
}

namespace {

std::size_t countOf(const std::string& text, const std::string& what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

}  // namespace

// A message varying in its numbers shows 100 lines an emulated second; the
// rest are counted in one line when the second ends, and the next second
// shows it again. Another object's lines of the same format count apart.
TEST(Log, FloodOfOneMessageFoldsWithinTheSecond)
{
    LogCapture log;
    logSink().setBounded(true);
    Object scu("SCU");
    Object other("VDP1");
    for (u32 a = 0; a < 250; ++a)
        scu.logWarning(1, "Bad RB [A: %08X]", a);
    other.logWarning(1, "Bad RB [A: %08X]", 1u);
    EXPECT_EQ(countOf(log.text(), "SCU: Bad RB [A: "), 100u);
    EXPECT_TRUE(log.text().ends_with("SCU: Bad RB [A: 00000063]\nVDP1: Bad RB [A: 00000001]\n")) << log.text();
    logSink().endSecond();
    // Named by the last line shown, as a person reads it.
    EXPECT_TRUE(log.text().ends_with("SCU: (150 more lines of \"Bad RB [A: 00000063]\" in this second)\n"))
        << log.text().substr(log.text().size() - 200);
    scu.logWarning(1, "Bad RB [A: %08X]", 7u);
    EXPECT_TRUE(log.text().ends_with("SCU: Bad RB [A: 00000007]\n"));
    logSink().endSecond();
    EXPECT_EQ(countOf(log.text(), "more lines"), 1u) << "a second with nothing folded says nothing";

    // Without a machine running there are no seconds to count in.
    logSink().setBounded(false);
    log.clear();
    for (u32 a = 0; a < 250; ++a)
        scu.logWarning(1, "Bad RB [A: %08X]", a);
    logSink().endSecond();
    EXPECT_EQ(countOf(log.text(), "SCU: Bad RB [A: "), 250u);
}

// However many messages a guest makes, a second's log stays under a
// megabyte, and every line is either shown or counted.
TEST(Log, ASecondHoldsUnderAMegabyteWhateverTheMessages)
{
    LogCapture log;
    logSink().setBounded(true);
    std::vector<std::string> formats;
    for (int i = 0; i < 3000; ++i)
        formats.push_back("message " + std::to_string(i) + " %s");
    const std::string body(900, 'x');
    for (int round = 0; round < 3; ++round) {
        for (std::size_t i = 0; i < formats.size(); ++i)
            logSink().writeKeyed(formats[i].c_str(), kLogInfo, "CPU", "%s %zu", body.c_str(), i);
    }
    logSink().endSecond();
    const std::string& text = log.text();
    EXPECT_LT(text.size(), 1u << 20);
    EXPECT_GT(text.size(), 700000u);
    const std::size_t shown = countOf(text, "CPU: xxx");
    const std::size_t at = text.find("LOG: (");
    ASSERT_NE(at, std::string::npos);
    EXPECT_TRUE(text.ends_with(" more lines over the log's limit for this second)\n")) << text.substr(at);
    EXPECT_EQ(shown + std::stoul(text.substr(at + 6)), 9000u);
    logSink().setBounded(false);
}
