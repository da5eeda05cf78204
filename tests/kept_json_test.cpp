#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "kept_json.h"
#include "move_away.h"
#include "kept_rows.h"
#include "kept_shapes.h"

namespace murako {
namespace {

using fakes::ExportText;
using fakes::FakeFileSystem;
using fakes::ImportedView;
using fakes::KeptSearch;

// Every byte a name may hold that JSON must escape, and bytes that are not UTF-8.
void EscapedNamesTree(FakeFileSystem& fs)
{
    std::string controls;
    for (char c = 1; c < 0x20; ++c)
        controls += c;
    for (const std::string& name : {controls, std::string("quote\"back\\slash"), std::string("\x7f del"),
                                    std::string("\xff\xfe\x80 not utf-8"), std::string("日本語"), std::string("\\u0041")})
        fs.File("/base/" + name + "/" + name, 3 + name.size()).File("/base/" + name + "/f", 1);
}

struct RoundTrip {
    const char* name;
    std::function<void(FakeFileSystem&)> make;
    SizeMeasure measure;
};

void PrintTo(const RoundTrip& trip, std::ostream* out)
{
    *out << trip.name;
}

class KeptJsonRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(KeptJsonRoundTrip, EveryDirectoryOfTheTreeReadBackHasTheRowsOfTheTreeWritten)
{
    auto fs = std::make_shared<FakeFileSystem>();
    GetParam().make(*fs);
    for (const int threads : {1, 0}) {
        KeptSearch search(fs, threads, GetParam().measure);
        search.Search("/base");
        const std::string text = ExportText(*search.Controller().Kept());
        KeptJsonRead read = ReadKeptJson(text);
        ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
        EXPECT_EQ(read.tree->Entries(), search.Controller().Kept()->Entries());
        ImportedView imported(fs, std::move(read.tree), GetParam().measure);
        const std::vector<std::string> directories = search.Directories();
        ASSERT_GT(directories.size(), 3u);
        for (const std::string& path : directories)
            EXPECT_EQ(imported.Rows(path), search.Kept(path)) << path;
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, KeptJsonRoundTrip,
                         ::testing::Values(RoundTrip{"Unread", fakes::UnreadPlacesTree, SizeMeasure::Length},
                                           RoundTrip{"UnreadOnDisk", fakes::UnreadPlacesTree, SizeMeasure::OnDisk},
                                           RoundTrip{"WideAndDeep", fakes::WideAndDeepTree, SizeMeasure::Length},
                                           RoundTrip{"Linked", fakes::LinkedTree, SizeMeasure::Length},
                                           RoundTrip{"LinkedOnDisk", fakes::LinkedTree, SizeMeasure::OnDisk},
                                           RoundTrip{"EscapedNames", EscapedNamesTree, SizeMeasure::Length}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(KeptJsonWrite, NamesAreEscapedAsJsonRequiresAndEveryOtherByteIsWrittenAsItIs)
{
    auto fs = std::make_shared<FakeFileSystem>();
    fs->File("/base/a\"b\\c\x01\x1f\x7f\xff/f", 1);
    KeptSearch search(fs, 1);
    search.Search("/base");
    const std::string text = ExportText(*search.Controller().Kept());
    EXPECT_NE(text.find(R"("name":"a\"b\\c\u0001\u001f)" "\x7f\xff\""), std::string::npos) << text;
    EXPECT_EQ(text.rfind("[1,2,{\"progname\":\"murako\",\"progver\":\"test\",\"timestamp\":", 0), 0u) << text;
}

// Names are scanned for bytes to escape several at a time: each byte, at each place of a name longer than
// one such step, must come back as it was.
TEST(KeptJsonWrite, EveryByteAtEveryPlaceOfALongNameReadsBackAsItWas)
{
    auto fs = std::make_shared<FakeFileSystem>();
    std::set<std::string> written;
    for (int byte = 1; byte < 256; ++byte) {
        for (size_t place = 0; place < 17 && byte != '/'; ++place) {
            std::string name(17, 'a');
            name[place] = static_cast<char>(byte);
            fs->File("/base/" + name, 1);
            written.insert(name);
        }
    }
    KeptSearch search(fs, 1);
    search.Search("/base");
    KeptJsonRead read = ReadKeptJson(ExportText(*search.Controller().Kept()));
    ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
    std::set<std::string> readBack;
    ForEachFile(*read.tree->Base(), [&](const KeptFile& file) { readBack.emplace(file.name); });
    EXPECT_EQ(readBack, written);
}

TEST(KeptJsonWrite, PlacesMovedAwaySinceTheSearchAreLeftOutAndTheTotalsFollow)
{
    auto fs = std::make_shared<FakeFileSystem>();
    fakes::LinkedTree(*fs);
    for (const SizeMeasure measure : {SizeMeasure::Length, SizeMeasure::OnDisk}) {
        KeptSearch search(fs, 1, measure);
        search.Search("/base");
        const KeptDirectory& base = *search.Controller().Kept()->Base();
        search.Controller().MovedAway({base.Child("b"), std::nullopt});
        search.Controller().MovedAway({&base, 0u});  // "own"
        KeptJsonRead read = ReadKeptJson(ExportText(*search.Controller().Kept()));
        ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
        EXPECT_EQ(read.tree->Base()->Child("b"), nullptr);
        EXPECT_EQ(read.tree->Base()->FileCount(), 0u);
        EXPECT_EQ(read.tree->Base()->Size(measure), base.Size(measure));
        EXPECT_EQ(read.tree->Base()->Child("c")->Size(measure), base.Child("c")->Size(measure));
    }
}

// A file as two other writers of the format put it: a hard link in two directories, a directory on another
// device with a link of the same inode number, an unread directory, a place not entered, fields unknown here.
constexpr const char* kPeerFile = R"([1,2,{"progname":"peer","progver":"1.0","timestamp":1},
[{"name":"/top","asize":4096,"dsize":4096,"dev":10,"ino":1},
 {"name":"one","asize":100,"dsize":4096,"ino":5,"hlnkc":true,"nlink":2,"uid":0,"mtime":5},
 [{"name":"a","asize":4096,"dsize":4096},
  {"name":"two","asize":100,"dsize":4096,"ino":5,"hlnkc":true,"nlink":2},
  {"name":"link","asize":7,"dsize":0,"notreg":true}],
 [{"name":"other","asize":4096,"dsize":8192,"dev":11},
  {"name":"same-inode","asize":100,"dsize":4096,"ino":5,"nlink":2}],
 [{"name":"locked","asize":4096,"dsize":4096,"read_error":true}],
 {"name":"proc","excluded":"kernfs"},
 {"name":"gone","read_error":true},
 {"name":"extra","asize":1,"dsize":512,"ext":{"deep":[1,{"x":[]}]}}]])";

TEST(KeptJsonRead, AFileOfAnotherWriterCountsAsASearchDoesAFileOfSeveralLinksOnceOnDisk)
{
    KeptJsonRead read = ReadKeptJson(kPeerFile);
    ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
    const KeptDirectory& top = *read.tree->Base();
    EXPECT_EQ(read.tree->BasePath(), "/top");
    // Lengths: every link, never a directory's own.
    EXPECT_EQ(top.Size(SizeMeasure::Length), 100 + 100 + 7 + 100 + 1);
    // On disk: the directories' own space, the link of inode 5 on device 10 once, on device 11 once more.
    EXPECT_EQ(top.Size(SizeMeasure::OnDisk), 4096 + 4096 + 4096 + 0 + 8192 + 4096 + 4096 + 512);
    EXPECT_EQ(top.Child("a")->Size(SizeMeasure::OnDisk), 4096) << "its link of inode 5 was met first above it";
    EXPECT_EQ(top.Child("locked")->failure, ReadFailure::Other);
    EXPECT_TRUE(top.Child("proc")->flags & KeptDirectory::PseudoFileSystem);
    EXPECT_EQ(top.Entries(), 10);
    int unmeasured = 0;
    ForEachFile(top, [&](const KeptFile& file) { unmeasured += !file.facts; });
    EXPECT_EQ(unmeasured, 1);
    bool notRegular = false;
    ForEachFile(*top.Child("a"), [&](const KeptFile& file) { notRegular |= file.facts && !file.facts->regular; });
    EXPECT_TRUE(notRegular);
}

TEST(KeptJsonRead, ProgressIsToldAsALargeFileIsRead)
{
    std::string text = R"([1,2,{},[{"name":"/big"})";
    for (int i = 0; i < 200000; ++i)
        text += R"(,{"name":"file number )" + std::to_string(i) + R"(","asize":1})";
    text += "]]";
    std::vector<uint64_t> told;
    KeptJsonRead read = ReadKeptJson(text, [&](uint64_t bytes) { told.push_back(bytes); });
    ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
    EXPECT_EQ(read.tree->Base()->Size(SizeMeasure::Length), 200000);
    ASSERT_GE(told.size(), 1u);
    EXPECT_LE(told.back(), text.size());
}

TEST(KeptJsonRead, ATreeOfAHundredThousandLevelsIsReadWithoutRecursion)
{
    constexpr int kLevels = 100000;
    std::string text = R"([1,2,{},[{"name":"/deep"})";
    for (int i = 0; i < kLevels; ++i)
        text += R"(,[{"name":"d"},{"name":"f","asize":1})";
    text += std::string(kLevels, ']') + "]]";
    KeptJsonRead read = ReadKeptJson(text);
    ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
    EXPECT_EQ(read.tree->Base()->Size(SizeMeasure::Length), kLevels);
    EXPECT_EQ(read.tree->Entries(), 2 * kLevels + 1);
}

TEST(KeptJsonShown, ATreeReadFromAFileIsShownWithItsNoteUntilASearchKeepsATreeOfItsOwn)
{
    auto fs = std::make_shared<FakeFileSystem>();
    fakes::LinkedTree(*fs);
    KeptSearch search(fs, 1);
    search.Search("/base");
    KeptJsonRead read = ReadKeptJson(ExportText(*search.Controller().Kept()));
    ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);

    ResultsTable table;
    InitGrid(table);
    fakes::RecordingPresentation presentation;
    fakes::FixedChoices choices;
    QueueHost host;
    SearchController::Options options;
    options.keepTree = true;
    SearchController controller(table, presentation, choices, fs, host, options);
    const std::string note = "saved.json 2026/12/08 21:00";
    controller.ShowImported(std::move(read.tree), note);
    EXPECT_EQ(controller.ShownPath(), "/base/");
    EXPECT_EQ(fakes::TableLines(table), search.Kept("/base"));
    EXPECT_EQ(presentation.progress.back(), note);
    EXPECT_TRUE(controller.KeptImported());
    ASSERT_TRUE(controller.ShowKept("/base/b"));
    EXPECT_EQ(presentation.progress.back(), note);

    controller.Command1_Click();
    host.RunUntil([&] { return !controller.Searching(); });
    ASSERT_TRUE(controller.ShowKept("/base/b"));
    EXPECT_NE(presentation.progress.back(), note) << "the tree shown is the search's";
    EXPECT_FALSE(controller.KeptImported());
}

// The export without its metadata, whose timestamp differs from one writing to the next.
std::string TreeText(const KeptTree& tree)
{
    const std::string text = ExportText(tree);
    return text.substr(text.find("},"));
}

// Every kind of value the reader meets: escapes of each kind, numbers of 1 to 19 digits, truths, fields not
// used here holding every kind of JSON, directories within directories, places unread and not entered.
std::string AllKindsOfValues(const std::string& metadata)
{
    std::string text = "[1,2," + metadata + ",\n[{\"name\":\"/all\",\"asize\":4096,\"dsize\":4096,\"dev\":2049,\"ino\":2}";
    for (int copy = 0; copy < 3; ++copy) {
        const std::string n = std::to_string(copy);
        text += ",\n{\"name\":\"plain" + n + "\",\"asize\":7,\"dsize\":4096,\"ino\":12345678901234567}";
        text += R"(,{"name":"esc\n\t\"\\\b\f\r)" + n + R"(","asize":1234567890123456789,"dsize":0})";
        text += R"(,{"name":"\u00e9t\u00C9\u0001\u20ac\u001f)" + n + R"(","asize":922337203685477580})";
        text += ",{\"name\":\"日本" + n + "\",\"asize\":100,\"dsize\":512,\"ino\":77,\"hlnkc\":true,\"nlink\":3}";
        text += ",{\"name\":\"l" + n + R"(","asize":5,"notreg":true,"read_error":false,"mtime":1700000000,)" +
                R"("ext":{"a":[1,-2,true,false,null,"s\n\u0041",[],{}],"b":{"c":[[0]]}}})";
        text += R"(,[{"name":"sub)" + n + R"(","dsize":8192,"dev":2050,"uid":0},{"name":"inner","asize":3},)" +
                R"([{"name":"locked","read_error":true,"murako_failure":"permission"}]])";
        text += ",{\"name\":\"proc" + n + "\",\"excluded\":\"kernfs\"},\n{\"name\":\"gone" + n + "\",\"read_error\":true}";
    }
    return text + "\n]\n]\n";
}

// Pieces small enough that the names, numbers and escapes above are cut at every place by where the buffer
// is filled again, as leading spaces move them along by up to a window.
class KeptJsonPieces : public ::testing::TestWithParam<size_t> {};

TEST_P(KeptJsonPieces, TheQuickReadingGivesTheTreeOfTheThoroughOneWhereverThePiecesEnd)
{
    // A fraction in the metadata is out of the ordinary: the quick reader leaves that file to the thorough one.
    const KeptJsonRead thorough = ReadKeptJson(AllKindsOfValues(R"({"version":1.5})"));
    ASSERT_TRUE(thorough.tree) << ReasonTextInEnglish(thorough.failure);
    ASSERT_FALSE(thorough.readQuickly);
    const std::string expected = TreeText(*thorough.tree);
    const ReadPieces pieces{2 * GetParam(), GetParam()};
    for (size_t spaces = 0; spaces <= pieces.window; ++spaces) {
        const KeptJsonRead quick = ReadKeptJson(std::string(spaces, ' ') + AllKindsOfValues("{}"), {}, pieces);
        ASSERT_TRUE(quick.tree) << ReasonTextInEnglish(quick.failure);
        ASSERT_TRUE(quick.readQuickly) << spaces << " spaces";
        ASSERT_EQ(TreeText(*quick.tree), expected) << spaces << " spaces";
    }
}

INSTANTIATE_TEST_SUITE_P(Windows, KeptJsonPieces, ::testing::Values(130, 131, 200));

#ifndef _WIN32
// A stream in memory cannot be read twice, so the thorough reader alone reads it.
KeptJsonRead ReadThoroughly(std::string text)
{
    std::FILE* stream = fmemopen(text.data(), text.size(), "r");
    KeptJsonRead read = ReadKeptJsonFile(stream);
    std::fclose(stream);
    return read;
}

// The quick reader may give up on anything, but never give another tree or accept what the thorough one refuses.
TEST(KeptJsonRead, TheQuickAndTheThoroughReadingsAgreeOnFilesCutAndChangedAtRandom)
{
    const std::string original = AllKindsOfValues(R"({"progname":"x","timestamp":17})");
    static const std::string kInserted[] = {"[", "]", "{", "}", ",", ":", "\"", "\\", "-", "0", "01", "1.5", "e5",
                                            " ", "\t", "tru", "null", std::string(1, '\0'), "\x01", "\\u00",
                                            "\\ud800", "{\"name\":\"x\"}", "[{\"name\":\"y\"}]"};
    std::mt19937 random(7);
    int quick = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        std::string text = original;
        const size_t at = random() % text.size();
        switch (random() % 4) {
        case 0: text[at] = static_cast<char>(text[at] ^ (1 << random() % 8)); break;
        case 1: text.erase(at, 1 + random() % 8); break;
        case 2: text.insert(at, kInserted[random() % std::size(kInserted)]); break;
        default: text.resize(at);
        }
        const KeptJsonRead read = ReadKeptJson(text, {}, {256, 128});
        const KeptJsonRead thorough = ReadThoroughly(text);
        quick += read.readQuickly;
        ASSERT_EQ(ReasonTextInEnglish(read.failure), ReasonTextInEnglish(thorough.failure)) << text;
        if (read.tree) {
            ASSERT_EQ(TreeText(*read.tree), TreeText(*thorough.tree)) << text;
        }
    }
    EXPECT_GT(quick, 100) << "files changed only where a name or a size is are read quickly";
}
#endif

struct Unusual {
    const char* name;
    std::string text;
};

void PrintTo(const Unusual& input, std::ostream* out)
{
    *out << input.name;
}

class KeptJsonUnusual : public ::testing::TestWithParam<Unusual> {};

TEST_P(KeptJsonUnusual, IsLeftToTheThoroughReadingWhichReadsIt)
{
    const KeptJsonRead read = ReadKeptJson(GetParam().text, {}, {256, 128});
    ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
    EXPECT_FALSE(read.readQuickly);
    EXPECT_EQ(read.tree->Entries(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, KeptJsonUnusual,
    ::testing::Values(
        Unusual{"Surrogates", R"([1,2,{},[{"name":"/x"},{"name":"\ud83d\ude00"}]])"},
        Unusual{"TwentyDigits", R"([1,2,{},[{"name":"/x"},{"name":"f","ino":18446744073709551615}]])"},
        Unusual{"Exponent", R"([1,2,{"t":1e3},[{"name":"/x"},{"name":"f"}]])"},
        Unusual{"NameLongerThanTheBuffer", "[1,2,{},[{\"name\":\"/x\"},{\"name\":\"" + std::string(300, 'n') + "\"}]]"},
        Unusual{"GapLongerThanTheWindow", "[1,2,{},[{\"name\":\"/x\"}," + std::string(300, ' ') + "{\"name\":\"f\"}]]"},
        Unusual{"ZeroAfterTheEnd", std::string(R"([1,2,{},[{"name":"/x"},{"name":"f"}]])") + '\0' + "x"},
        Unusual{"EscapedKey", R"([1,2,{},[{"name":"/x"},{"n\u0061me":"f"}]])"}),
    [](const auto& info) { return std::string(info.param.name); });

// A file on disk is read quickly, and read again from where it stood when the quick reading gives up; a pipe
// is read once, thoroughly.
TEST(KeptJsonRead, AFileIsReadAgainWhereTheQuickReadingGivesUpAndAPipeOnlyOnce)
{
    for (const std::string& metadata : {std::string("{}"), std::string(R"({"t":0.5})")}) {
        const std::string text = AllKindsOfValues(metadata);
        std::FILE* file = fakes::TestFile();
        ASSERT_TRUE(file);
        std::fputs("skipped", file);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fseek(file, 7, SEEK_SET);
        const KeptJsonRead fromFile = ReadKeptJsonFile(file);
        std::fclose(file);
        ASSERT_TRUE(fromFile.tree) << ReasonTextInEnglish(fromFile.failure);
        EXPECT_EQ(fromFile.readQuickly, metadata == "{}");
#ifndef _WIN32
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        std::thread writer([&] {
            for (size_t at = 0; at < text.size();)
                at += static_cast<size_t>(std::max<ssize_t>(write(ends[1], text.data() + at, text.size() - at), 0));
            close(ends[1]);
        });
        std::FILE* piped = fdopen(ends[0], "rb");
        const KeptJsonRead fromPipe = ReadKeptJsonFile(piped);
        std::fclose(piped);
        writer.join();
        ASSERT_TRUE(fromPipe.tree) << ReasonTextInEnglish(fromPipe.failure);
        EXPECT_FALSE(fromPipe.readQuickly);
        EXPECT_EQ(TreeText(*fromPipe.tree), TreeText(*fromFile.tree));
#endif
    }
}

struct Malformed {
    const char* name;
    std::string text;
    Reason reason;
    size_t offset;  // where the value read last begins
};

void PrintTo(const Malformed& input, std::ostream* out)
{
    *out << input.name;
}

class KeptJsonMalformed : public ::testing::TestWithParam<Malformed> {};

TEST_P(KeptJsonMalformed, IsToldWithTheByteWhereReadingStoppedAndGivesNoTree)
{
    for (const ReadPieces& pieces : {ReadPieces{}, ReadPieces{64, 32}}) {
        const KeptJsonRead read = ReadKeptJson(GetParam().text, {}, pieces);
        EXPECT_FALSE(read.tree);
        EXPECT_EQ(read.failure.reason, GetParam().reason) << ReasonTextInEnglish(read.failure);
        EXPECT_EQ(read.failure.byte, GetParam().offset) << ReasonTextInEnglish(read.failure);
    }
}

const std::string kHead = R"([1,2,{},[{"name":"/x"},)";  // 23 bytes
const std::string kWindowsHead = R"([1,2,{},[{"name":"C:\\x"},)";  // 27 bytes

INSTANTIATE_TEST_SUITE_P(
    Inputs, KeptJsonMalformed,
    ::testing::Values(
        Malformed{"Empty", "", Reason::EndsBeforeJson, 0},
        Malformed{"Truncated", kHead + R"({"name":"f","as)", Reason::EndsBeforeJson, 38},
        Malformed{"TruncatedAfterAnEntry", kHead + R"({"name":"f"})", Reason::EndsBeforeJson, 35},
        Malformed{"NotAnArray", R"({"a":1})", Reason::NotAnArray, 0},
        Malformed{"UnknownMajor", R"([2,0,{},[{"name":"/x"}]])", Reason::UnknownMajorVersion, 1},
        Malformed{"MajorAsText", R"(["1",2,{},[{"name":"/x"}]])", Reason::VersionNotNumber, 4},
        Malformed{"MetadataAsArray", R"([1,2,[],[{"name":"/x"}]])", Reason::MetadataNotObject, 5},
        Malformed{"NoDirectory", R"([1,2,{}])", Reason::EndsBeforeDirectory, 7},
        Malformed{"DirectoryWithoutInfo", R"([1,2,{},[]])", Reason::DirectoryWithoutInfo, 9},
        Malformed{"NegativeSize", kHead + R"({"name":"f","asize":-1}]])", Reason::FieldNegative, 43},
        Malformed{"FractionalSize", kHead + R"({"name":"f","dsize":1.5}]])", Reason::FieldOfWrongKind, 43},
        Malformed{"HugeSize", kHead + R"({"name":"f","asize":1e300}]])", Reason::FieldOfWrongKind, 43},
        Malformed{"OverflowingSize", kHead + R"({"name":"f","asize":9223372036854775808}]])", Reason::FieldTooLarge, 43},
        Malformed{"SizesAddingUpPastTheLargest", kHead + R"({"name":"f","asize":9223372036854775807},{"name":"g","asize":1}]])", Reason::SizesTooLarge, 85},
        Malformed{"SpaceAddingUpPastTheLargest", R"([1,2,{},[{"name":"/x","dsize":4611686018427387904},{"name":"g","dsize":4611686018427387904}]])", Reason::SizesTooLarge, 90},
        Malformed{"SizeAsText", kHead + R"({"name":"f","asize":"12"}]])", Reason::FieldOfWrongKind, 47},
        Malformed{"NameAsNumber", kHead + R"({"name":12}]])", Reason::FieldOfWrongKind, 31},
        Malformed{"LinkFlagAsNumber", kHead + R"({"name":"f","hlnkc":1}]])", Reason::FieldOfWrongKind, 43},
        Malformed{"NoName", kHead + R"({"asize":1}]])", Reason::NoName, 33},
        Malformed{"EmptyName", kHead + R"({"name":""}]])", Reason::EmptyName, 33},
        Malformed{"EmptyTopName", R"([1,2,{},[{"name":""},{"name":"f"}]])", Reason::EmptyTopName, 19},
        Malformed{"NameWithASeparator", kHead + R"({"name":"a/b"}]])", Reason::NameWithSeparator, 36},
        Malformed{"DirectoryNamedDotDot", kHead + R"([{"name":".."},{"name":"f"}]]])", Reason::DotName, 36},
        Malformed{"FileNamedDot", kHead + R"({"name":"."}]])", Reason::DotName, 34},
        Malformed{"NameWithANul", kHead + R"({"name":"a\u0000b"}]])", Reason::NameWithNul, 41},
        Malformed{"TopWithANul", R"([1,2,{},[{"name":"/x\u0000/y"}]])", Reason::NameWithNul, 29},
        Malformed{"BackslashBelowAWindowsTop", kWindowsHead + R"({"name":"a\\b"}]])", Reason::NameWithSeparator, 40},
        Malformed{"SlashBelowAWindowsTop", kWindowsHead + R"({"name":"a/b"}]])", Reason::NameWithSeparator, 39},
        Malformed{"LoneLowSurrogate", kHead + R"({"name":"a\udc00"}]])", Reason::LoneSurrogate, 39},
        Malformed{"LoneHighSurrogate", kHead + R"({"name":"a\ud800"}]])", Reason::LoneSurrogate, 33},
        Malformed{"LowSurrogateAfterAnEscapedBackslash", kHead + R"({"name":"a\\\udc00"}]])", Reason::LoneSurrogate, 41},
        Malformed{"NumberAsEntry", kHead + R"(5]])", Reason::MisplacedValue, 23},
        Malformed{"TwoTopDirectories", R"([1,2,{},[{"name":"/x"}],[{"name":"/y"}]])", Reason::MoreThanOneTop, 24},
        Malformed{"TrailingValue", R"([1,2,{},[{"name":"/x"}]] 7)", Reason::NotJson, 25},
        Malformed{"BrokenJson", kHead + R"({"name":"f",}]])", Reason::NotJson, 35},
        Malformed{"AMillionLevelsWithoutInfo", R"([1,2,{},)" + std::string(1000000, '['), Reason::DirectoryWithoutInfo, 9},
        Malformed{"DeepInTheMetadata", R"([1,2,{"x":)" + std::string(20000, '['), Reason::NestedTooDeep, 10009},
        Malformed{"DeepInAFieldNotUsed", kHead + R"({"name":"f","x":)" + std::string(20000, '['), Reason::NestedTooDeep, 10039},
        Malformed{"SpaceAfterMinus", kHead + R"({"name":"f","x":- 5}]])", Reason::NotJson, 40},
        Malformed{"LeadingZero", kHead + R"({"name":"f","asize":01}]])", Reason::NotJson, 44},
        Malformed{"ControlInName", kHead + "{\"name\":\"a\x01\"}]]", Reason::NotJson, 33},
        Malformed{"ShortEscape", kHead + R"({"name":"a\u12"}]])", Reason::NotJson, 33},
        Malformed{"CutWord", kHead + R"({"name":"f","x":tru}]])", Reason::NotJson, 42},
        Malformed{"CommaBeforeTheEnd", kHead + R"({"name":"f","x":[1,]}]])", Reason::NotJson, 42},
        Malformed{"UnknownEscape", kHead + R"({"name":"a\x"}]])", Reason::NotJson, 33},
        Malformed{"AHugeName", kHead + R"({"name":")" + std::string(3 << 20, 'n') + R"("}]])", Reason::NoValueForLong, 1048606}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace murako
