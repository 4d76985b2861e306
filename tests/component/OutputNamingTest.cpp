// The naming rule of outputs: the first choice, else the first numbered name that neither exists
// nor is claimed by another task of the list.
#include "component/OutputNaming.h"
#include "component/ComponentHarness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TNamingCase {
    const char* What;
    std::vector<std::string> Existing; // files in the folder
    std::vector<std::string> Claimed;  // names other tasks of the list will take
    bool Marked;
    bool Replace;
    const char* Expected;
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
    };
    for (const TNamingCase& c : cases) {
        SCOPED_TRACE(c.What);
        TScratchFolder folder;
        for (const std::string& name : c.Existing)
            folder.Touch(name);
        std::vector<TPathFileName> claimed;
        for (const std::string& name : c.Claimed)
            claimed.push_back(folder / name);
        const TWantedOutput wanted{.Base = (folder / "x").string(),
                                   .Extension = ".mp3",
                                   .Marked = c.Marked,
                                   .Replace = c.Replace};
        EXPECT_EQ(FreeOutputName(wanted, claimed), folder / c.Expected);
    }
}

// The next free name after one taken at its start; names without the mark have none.
TEST(OutputNaming, NextFreeAfterATakenName) {
    TScratchFolder folder;
    folder.Touch("x_(new_3).mp3");
    const std::pair<const char*, const char*> cases[] = {{"x_(new).mp3", "x_(new_1).mp3"},
                                                         {"x_(new_2).mp3", "x_(new_4).mp3"},
                                                         {"x.mp3", ""},
                                                         {"x_(new_a).mp3", ""}};
    for (const auto& [taken, next] : cases)
        EXPECT_EQ(NextFreeOutputName(folder / taken), *next ? folder / next : TPathFileName())
            << taken;
    EXPECT_EQ(NewOutputName("NAME", ".ogg", 0), "NAME_(new).ogg");
}
