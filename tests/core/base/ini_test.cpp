#include "core/base/ini.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
// GCC 12 reports a false "maybe uninitialized" inside <regex> at -O2.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <regex>
#include <string>

#include "core/emulator/default_settings.h"
#include "support/files.h"
#include "support/log_capture.h"

namespace {

const std::string kDataDir = std::string(KEST_SOURCE_DIR) + "/tests/core/base/data/ini/";

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string withCrLf(const std::string& text)
{
    std::string result;
    for (char c : text) {
        if (c == '\n')
            result += '\r';
        result += c;
    }
    return result;
}

}  // namespace

TEST(DefaultSettings, IsTheDocumentedText)
{
    std::string text(kDefaultSettings, kDefaultSettingsLength);
    EXPECT_EQ(kDefaultSettingsLength, 1345u);
    EXPECT_EQ(text.size(), std::char_traits<char>::length(kDefaultSettings));
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 84);
    EXPECT_EQ(text.substr(0, 29), "[Language]\nlang_code = en_US\n");
    EXPECT_EQ(text.substr(text.size() - 17), "\nmulti6p_2_6 = 0\n");
}

TEST(Ini, DefaultSettingsSurviveARewriteByteForByte)
{
    TempDir dir;
    const std::string crlf = withCrLf(std::string(kDefaultSettings, kDefaultSettingsLength));
    ASSERT_EQ(crlf.size(), 1345u + 84u);

    // As the main window writes it, and as an editor on another host might leave it.
    for (const std::string& original : {crlf, std::string(kDefaultSettings, kDefaultSettingsLength)}) {
        std::string path = dir.file("kest.ini");
        writeText(path, original);
        {
            INI ini(path, false);
            EXPECT_EQ(ini.save(), crlf);
            EXPECT_EQ(ini.findSection("Language").findKey("lang_code").value, "en_US");
            EXPECT_EQ(ini.findSection("Path").findKey("sat_bup").value, "saves/sat_primary_01.bup");
            EXPECT_EQ(ini.findSection("Path").findKey("stv_bup").value, "saves/stv_primary_01.bup");
            EXPECT_EQ(ini.findSection("Path").findKey("sat_rom").value, "");
            EXPECT_EQ(ini.findSection("General").findKey("vcd_card").getInt(), 1);
            EXPECT_EQ(ini.findSection("General").findKey("multi6p_2_6").key, "multi6p_2_6");
        }
        EXPECT_EQ(readText(path), crlf);
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    }
}

TEST(Ini, RewriteMatchesGoldenFile)
{
    TempDir dir;
    std::string path = dir.file("edges.ini");
    std::filesystem::copy_file(kDataDir + "edges.ini", path);
    {
        INI ini(path, false);
        IniSection& first = ini.findSection("Path");
        EXPECT_EQ(first.comment, " # where");
        EXPECT_EQ(first.leadingComments, "# settings for the edge cases\r\n");
        EXPECT_EQ(first.findKey("key").value, "value");
        EXPECT_EQ(first.findKey("key").comment, " ;c");
        // The key reaches to the last "=".
        EXPECT_EQ(first.findKey("a = b").value, "c");
        EXPECT_EQ(first.findKey("a").key, "");
        EXPECT_EQ(first.findKey("empty").key, "empty");
        EXPECT_EQ(first.findKey("empty").value, "");
        EXPECT_EQ(first.findKey("k2").value, "two words");
        EXPECT_EQ(first.findKey("k2").leadingComments, "# note\r\n");
        EXPECT_TRUE(first.findKey("k2").blankBefore);
        // Lookups find the first of two same-named sections.
        EXPECT_EQ(first.findKey("dup").key, "");
        EXPECT_EQ(ini.sections().size(), 3u);
        EXPECT_EQ(ini.sections()[1].entries.at(0).value, "second");
        EXPECT_EQ(ini.findSection("General").findKey("hex").getInt(), 31);
        EXPECT_EQ(ini.findSection("general").findKey("hex").getInt(), 0);
    }
    EXPECT_EQ(readText(path), readText(kDataDir + "edges.expected.ini"));
}

TEST(Ini, AssignedValuesAreStoredAndLostOnlyOnNullEntries)
{
    TempDir dir;
    std::string path = dir.file("kest.ini");
    writeText(path, "[Language]\r\nlang_code = en_US\r\n");
    {
        INI ini(path, false);
        ini.findSection("Language").findKey("lang_code").value = "ja_JP";
        ini.findSection("Language").findKey("missing").value = "lost";
        ini.findSection("Nowhere").findKey("missing").value = "lost";
        EXPECT_EQ(ini.findSection("Language").findKey("missing").value, "");
        EXPECT_EQ(ini.findSection("Nowhere").findKey("missing").value, "");
        EXPECT_EQ(ini.findSection("Nowhere").name, "");
    }
    EXPECT_EQ(readText(path), "[Language]\r\nlang_code = ja_JP\r\n");

    {
        INI ini(path, true);
        ini.findSection("Language").findKey("lang_code").value = "fr_FR";
    }
    EXPECT_EQ(readText(path), "[Language]\r\nlang_code = ja_JP\r\n");
}

TEST(Ini, GetIntReadsHexDecimalAndGarbage)
{
    struct Case {
        const char* value;
        s32 expected;
    };
    const Case cases[] = {
        {"0x1f", 31}, {"0X1F", 31}, {"0xAbC", 0xABC}, {"0xFFFFFFFF", -1}, {"0x7fffffff", 0x7FFFFFFF},
        {"0x123456789", -1},  // too wide: stops at the largest 32-bit pattern
        {"-5", -5}, {"+7", 7}, {"12abc", 12}, {"0", 0}, {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1}, {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1},
        {"abc", 0}, {"0x", 0}, {"", 0}, {"0x1g", 0}, {"-", 0}, {"x12", 0}, {"1 2", 1},
    };
    for (const Case& c : cases) {
        IniEntry entry;
        entry.value = c.value;
        EXPECT_EQ(entry.getInt(), c.expected) << "value '" << c.value << "'";
    }
}

TEST(Ini, LoadingStopsAtAnUnparsableLineAndTheFileIsKept)
{
    TempDir dir;
    // A broken section line is one with a comment after it too.
    const char* stoppers[] = {"[Path] x", "[   ]", "=value", "just words", "[]", "[Path  # my paths", " [P ; x"};
    for (const char* stopper : stoppers) {
        std::string path = dir.file("stop.ini");
        std::string original = std::string("[A]\r\nkept = 1\r\n") + stopper + "\r\nlost = 2\r\n[B]\r\nalso = 3\r\n";
        writeText(path, original);
        {
            LogCapture log;
            INI ini(path, false);
            EXPECT_TRUE(log.contains(": line 3 is no section, key or comment; the lines after it are not read"))
                << stopper << "\n" << log.text();
            EXPECT_EQ(ini.findSection("A").findKey("kept").getInt(), 1) << stopper;
            EXPECT_EQ(ini.findSection("A").findKey("lost").key, "") << stopper;
            EXPECT_EQ(ini.findSection("B").name, "") << stopper;
            EXPECT_EQ(ini.save(), "[A]\r\nkept = 1\r\n") << stopper;
            ini.findSection("A").findKey("kept").value = "9";
        }
        EXPECT_EQ(readText(path), original) << stopper;
    }

    std::string path = dir.file("stops.ini");
    std::filesystem::copy_file(kDataDir + "stops.ini", path);
    std::string original = readText(path);
    {
        INI ini("", false);
        EXPECT_FALSE(ini.load(path));
    }
    EXPECT_EQ(readText(path), original);
}

TEST(Ini, BlankLinesAndCommentOnlyLinesDoNotStopLoading)
{
    TempDir dir;
    std::string path = dir.file("blank.ini");
    writeText(path, "   \n[A]\n \t\n\t# note\nk = v\n  ; indented\n[B]\nz = 1");
    INI ini("", true);
    EXPECT_TRUE(ini.load(path));
    EXPECT_TRUE(ini.findSection("A").blankBefore);
    EXPECT_EQ(ini.findSection("A").findKey("k").leadingComments, "# note\r\n");
    EXPECT_TRUE(ini.findSection("A").findKey("k").blankBefore);
    EXPECT_EQ(ini.findSection("B").leadingComments, "; indented\r\n");
    // The last line has no line end and still counts.
    EXPECT_EQ(ini.findSection("B").findKey("z").getInt(), 1);
    EXPECT_EQ(ini.save(), "[A]\r\n\r\n# note\r\nk = v\r\n\r\n; indented\r\n[B]\r\nz = 1\r\n");
}

TEST(Ini, ByteOrderMarkIsSkippedAndKept)
{
    TempDir dir;
    std::string path = dir.file("en_US.ini");
    const std::string text = "\xEF\xBB\xBF[Language]\r\nName = English\r\n";
    writeText(path, text);
    {
        INI ini(path, false);
        EXPECT_EQ(ini.findSection("Language").findKey("Name").value, "English");
    }
    EXPECT_EQ(readText(path), text);
}

TEST(Ini, MissingFilesAndKeysBeforeAnySection)
{
    TempDir dir;
    {
        INI ini(dir.file("absent.ini"), true);
        EXPECT_TRUE(ini.sections().empty());
        EXPECT_EQ(ini.findSection("Path").findKey("sat_bios").value, "");
        EXPECT_EQ(ini.findSection("Path").findKey("sat_bios").getInt(), 0);
        EXPECT_EQ(ini.save(), "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("absent.ini")));

    // A folder where the file should be: the read fails, is reported, and
    // nothing is written over it.
    std::filesystem::create_directory(dir.file("folder.ini"));
    {
        testing::internal::CaptureStdout();
        INI ini("", false);
        EXPECT_FALSE(ini.load(dir.file("folder.ini")));
        EXPECT_FALSE(testing::internal::GetCapturedStdout().empty());
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder.ini")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("folder.ini.tmp")));

    std::string path = dir.file("rootless.ccd");
    writeText(path, "; header\r\nversion = 3\r\n[Disc]\r\nSessions=1\r\n");
    {
        INI ini(path, false);
        EXPECT_EQ(ini.findSection("root").findKey("version").getInt(), 3);
        EXPECT_EQ(ini.findSection("Disc").findKey("Sessions").getInt(), 1);
    }
    EXPECT_EQ(readText(path), "; header\r\nversion = 3\r\n\r\n[Disc]\r\nSessions = 1\r\n");
}

TEST(Ini, LongLinesParse)
{
    TempDir dir;
    std::string path = dir.file("long.ini");
    std::string key(300000, 'k');
    std::string value(300000, 'v');
    writeText(path, "[" + key + "]\n" + key + " = " + value + "\n");
    INI ini(path, true);
    ASSERT_EQ(ini.sections().size(), 1u);
    EXPECT_EQ(ini.findSection(key).findKey(key).value, value);
}

// The hand-written line matchers against the library's ECMAScript engine on
// short lines, where its recursion is harmless.
TEST(Ini, LineMatchingAgreesWithTheFormatsPatterns)
{
    static const std::regex sectionPattern(R"(^\s*\[\s*(\S(.*\S)?)\s*\]\s*$)");
    static const std::regex keyPattern(R"(\s*(\S(.*\S)?)\s*=(\s*(\S(.*\S)?)\s*)?)");
    // CR ends a line, so a blank of "\s" other than the line ends stands in for it.
    static const char kAlphabet[] = {' ', '\t', '\f', '=', '[', ']', 'a', 'b', 'a', '='};

    TempDir dir;
    std::string path = dir.file("line.ini");
    std::mt19937 random(1234);
    int sections = 0;
    int keys = 0;
    int stops = 0;
    for (int i = 0; i < 1500; ++i) {
        std::string line;
        int length = static_cast<int>(random() % 10);
        for (int j = 0; j < length; ++j)
            line += kAlphabet[random() % sizeof kAlphabet];
        bool blank = line.find_first_not_of(" \t\f") == std::string::npos;
        if (blank)
            continue;
        writeText(path, line);
        INI ini("", true);
        bool loaded = ini.load(path);

        std::smatch match;
        if (std::regex_search(line, match, sectionPattern)) {
            ++sections;
            ASSERT_TRUE(loaded) << '"' << line << '"';
            ASSERT_EQ(ini.sections().size(), 1u);
            EXPECT_EQ(ini.sections()[0].name, match[1].str()) << '"' << line << '"';
        } else if (std::regex_search(line, match, keyPattern)) {
            ++keys;
            ASSERT_TRUE(loaded) << '"' << line << '"';
            ASSERT_EQ(ini.sections().size(), 1u);
            ASSERT_EQ(ini.sections()[0].entries.size(), 1u);
            EXPECT_EQ(ini.sections()[0].entries[0].key, match[1].str()) << '"' << line << '"';
            EXPECT_EQ(ini.sections()[0].entries[0].value, match[4].matched ? match[4].str() : "")
                << '"' << line << '"';
        } else {
            ++stops;
            EXPECT_FALSE(loaded) << '"' << line << '"';
            EXPECT_TRUE(ini.sections().empty());
        }
    }
    // The corpus reaches every outcome.
    EXPECT_GT(sections, 20);
    EXPECT_GT(keys, 200);
    EXPECT_GT(stops, 100);
}

// A value in double quotes is read whole, "#" and ";" included, and written
// back as it was; a value holding either sign is written in quotes so it
// reads back the same. Lines without such a value parse as they always did.
TEST(Ini, QuotedValuesKeepCommentSigns)
{
    const std::string text = "[Path]\r\n"
                             "sat_cd = \"/games/#1; best/disc.cue\" ; mine\r\n"
                             "none = \"\"\r\n"
                             "half = \"a\" b ;c\r\n"
                             "open = \"a ;b\r\n"
                             "a = \"b\" = \"c#\"\r\n";
    INI ini("", false);
    ASSERT_TRUE(ini.parse(text));
    IniSection& path = ini.findSection("Path");
    EXPECT_EQ(path.findKey("sat_cd").value, "/games/#1; best/disc.cue");
    EXPECT_EQ(path.findKey("none").value, "");
    EXPECT_EQ(path.findKey("half").value, "\"a\" b");
    EXPECT_EQ(path.findKey("open").value, "\"a");
    EXPECT_EQ(path.findKey("a = \"b\"").value, "c#");
    EXPECT_EQ(ini.save(), text);
    path.findKey("none").value = "x#y";
    path.findKey("half").value = "1;2";
    INI again("", true);
    ASSERT_TRUE(again.parse(ini.save()));
    EXPECT_EQ(again.findSection("Path").findKey("none").value, "x#y");
    EXPECT_EQ(again.findSection("Path").findKey("half").value, "1;2");
}

// CR LF, LF and a lone CR each end a line, also a stray CR inside a CR LF
// line. A file that still holds a line of no kind is left as it is, and
// the log says which line stopped the reading.
TEST(Ini, EveryLineEndEndsALine)
{
    TempDir dir;
    const std::string path = dir.file("kest.ini");
    writeText(path, "[Path]\r\nsat_cd = a.cue\rsat_bios = b.bin\r\n[General]\nkest_bios = 1\r");
    {
        INI ini(path, false);
        ini.findSection("General").findKey("kest_bios").value = "0";
    }
    EXPECT_EQ(readText(path), "[Path]\r\nsat_cd = a.cue\r\nsat_bios = b.bin\r\n\r\n[General]\r\nkest_bios = 0\r\n");

    const std::string broken = "[Path]\rsat_cd = a.cue\rjunk\rsat_bios = b.bin\r";
    writeText(path, broken);
    LogCapture log;
    {
        INI ini(path, false);
        EXPECT_EQ(ini.findSection("Path").findKey("sat_cd").value, "a.cue");
    }
    EXPECT_EQ(readText(path), broken);
    EXPECT_TRUE(log.contains("INI: " + path + ": line 3 is no section, key or comment; the lines after it are not "
                             "read, and the file is left as it is\n"))
        << log.text();
    // Text before a comment makes a line of no kind too; the lines after it are read.
    writeText(path, "[A]\nhello # note\nk = 1\n");
    EXPECT_EQ(INI(path, false).findSection("A").findKey("k").getInt(), 1);
    EXPECT_EQ(readText(path), "[A]\nhello # note\nk = 1\n");
    EXPECT_TRUE(log.contains(": line 2 is no section, key or comment; the file is left as it is\n")) << log.text();
}
