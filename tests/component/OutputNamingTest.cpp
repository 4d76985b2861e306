// The naming rule of outputs: the first choice, else the first numbered name that neither exists
// nor is claimed by another task of the list.
#include "component/OutputNaming.h"
#include "component/ComponentHarness.h"
#include "component/NameBuilder.h"
#include "component/OutputAssembly.h"
#include "component/SafeName.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

struct TNamingCase {
    const char* What;
    std::vector<std::string> Existing; // files in the folder
    std::vector<std::string> Claimed;  // names other tasks of the list will take
    bool Marked;
    bool Replace;
    const char* Expected;
    const char* Suffix = ""; // an audio track's, put in before the check
};

} // namespace

TEST(OutputNaming, FirstFreeName) {
    const TNamingCase cases[] = {
        {"free", {}, {}, true, false, "x_(new).mp3"},
        {"existing", {"x_(new).mp3"}, {}, true, false, "x_(new_1).mp3"},
        {"existing replaced", {"x_(new).mp3"}, {}, true, true, "x_(new).mp3"},
        {"several numbered exist",
         {"x_(new).mp3", "x_(new_1).mp3", "x_(new_2).mp3"},
         {},
         true,
         false,
         "x_(new_3).mp3"},
        {"a gap is filled", {"x_(new).mp3", "x_(new_2).mp3"}, {}, true, false, "x_(new_1).mp3"},
        {"claimed by another task", {}, {"x_(new).mp3"}, true, false, "x_(new_1).mp3"},
        {"claimed even when replacing", {}, {"x_(new).mp3"}, true, true, "x_(new_1).mp3"},
        {"existing and claimed",
         {"x_(new).mp3"},
         {"x_(new_1).mp3", "x_(new_3).mp3"},
         true,
         false,
         "x_(new_2).mp3"},
        {"bare first choice", {}, {}, false, false, "x.mp3"},
        {"bare first choice exists", {"x.mp3", "x_(new_1).mp3"}, {}, false, false, "x_(new_2).mp3"},
        {"other extensions do not count", {"x_(new).flac"}, {}, true, false, "x_(new).mp3"},
        {"a track's name exists",
         {"x_(new)_1_eng.mp3"},
         {},
         true,
         false,
         "x_(new_1)_1_eng.mp3",
         "_1_eng"},
        {"a track's name claimed", {}, {"x_(new)_2.mp3"}, true, false, "x_(new_1)_2.mp3", "_2"},
        {"a bare track's name exists", {"x_2.mp3"}, {}, false, false, "x_(new_1)_2.mp3", "_2"},
        {"a suffix is cleaned", {}, {}, true, false, "x_(new)_1_a_b.mp3", "_1_a/b"},
    };
    for (const TNamingCase& c : cases) {
        SCOPED_TRACE(c.What);
        TScratchFolder folder;
        for (const std::string& name : c.Existing)
            folder.Touch(name);
        std::vector<TPathFileName> claimed;
        for (const std::string& name : c.Claimed)
            claimed.push_back(folder / name);
        const TWantedOutput wanted = BuildOutputName({.Folder = folder.Path(),
                                                      .Path = {"x"},
                                                      .Suffix = c.Suffix,
                                                      .Extension = ".mp3",
                                                      .Marked = c.Marked,
                                                      .Replace = c.Replace});
        EXPECT_EQ(FreeOutputName(wanted, claimed), folder / c.Expected);
    }
}

// The next free name after one taken at its start; a tree's name without the mark is numbered
// before its suffix.
TEST(OutputNaming, NextFreeAfterATakenName) {
    TScratchFolder folder;
    folder.Touch("x_(new_3).mp3");
    folder.Touch("x_(new_1)_1_eng.mp3");
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"x_(new).mp3", "", "x_(new_1).mp3"},
        {"x_(new_2).mp3", "", "x_(new_4).mp3"},
        {"x.mp3", "", "x_(new_1).mp3"},
        {"x_1_eng.mp3", "_1_eng", "x_(new_2)_1_eng.mp3"},
        {"x_(new_a).mp3", "", ""},
        {"x_(new_2)_1_eng.mp3", "_1_eng", "x_(new_3)_1_eng.mp3"}};
    for (const auto& [taken, suffix, next] : cases)
        EXPECT_EQ(NextFreeOutputName(folder / taken, suffix),
                  *next ? folder / next : TPathFileName())
            << taken;
    EXPECT_EQ(NewOutputName("NAME", ".ogg", 0), "NAME_(new).ogg");
}

// Every name part this program makes passes one cleaner: what common file systems refuse or
// change becomes "_", device names get a "_" in front, and a long name is cut at a character.
TEST(OutputNaming, OneCleanerForEveryNamePart) {
    std::string letters;
    for (int i = 0; i < 150; ++i)
        letters += "\xC3\xA9"; // é
    const std::pair<std::string, std::string> cases[] = {
        {"a/b\\c:d*e?f\"g<h>i|j", "a_b_c_d_e_f_g_h_i_j"},
        {std::string("x\0y\x1F\x7Fz", 6), "x_y__z"},
        {"..", "__"},
        {".hidden", "_hidden"},
        {"Title. ", "Title__"},
        {"CON", "_CON"},
        {"nul.txt", "_nul.txt"},
        {"com7", "_com7"},
        {"COM0", "COM0"},
        {"Console", "Console"},
        {"", "_"},
        {std::string(300, 'g'), std::string(200, 'g')},
        {letters, letters.substr(0, 200)},
        {std::string(199, 'a') + "\xC3\xA9", std::string(199, 'a')},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(SafeNamePart(text), expected) << text;
    TNameParts tree;
    tree.Path = NamePathOf("a:b/CON/x?");
    EXPECT_EQ(BuildOutputName(tree).Base, "a_b/_CON/x_");
}

// A batch finds the names its other tasks claimed by the start of the name an output wants: that
// start is the given name's own, cleaned, for every kind of name.
TEST(OutputNaming, WantedNameStartsTheNameGiven) {
    TScratchFolder folder;
    const std::pair<const char*, const char*> cases[] = {{"a:b.flac", ""},
                                                         {"CON.wav", ""},
                                                         {".x.flac", "_1_a/b"},
                                                         {"tree", "_2"},
                                                         {"tree/x?y/CON.flac", ""}};
    for (const auto& [input, suffix] : cases) {
        TOutputChoices choices;
        choices.InputFileName = folder / "in" / input;
        choices.NameSuffix = suffix;
        if (std::string(input).starts_with("tree")) {
            choices.OutputFolder = folder / "out";
            choices.TreeName = NamePathOf(TPathFileName(input).replace_extension());
        }
        const std::string name = OutputFileNameFor(choices).string();
        EXPECT_TRUE(name.starts_with(WantedOutputFor(choices).Base)) << name;
    }
}
