#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <string>

#include "core/document/Error.h"
#include "core/spelling/Dictionaries.h"
#include "core/spelling/SpellerProcess.h"
#include "core/spelling/SpellingService.h"
#include "support/TempDir.h"

using namespace velloran;
using namespace velloran::spelling;
using ::testing::HasSubstr;

namespace {

const std::string kDictionaries = VELLORAN_TEST_DICTIONARIES;

Dictionary Named(const std::string& folder, const std::string& name) {
    return *ChooseDictionary(FindDictionaries({folder}), name, "");
}

// A UTF-8 .aff whose TRY line ends a four-byte character after two of its bytes: Hunspell reads
// it, checks with it, and dies of a segmentation fault in every suggestion.
Dictionary Crashing() {
    return Named(kDictionaries + "/crashing", "en_CRASH");
}

// How the last helper ended: on its own (the crash), not by the SIGKILL that ends every helper.
bool DiedByItself(int status) {
    return !(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

TEST(SpellerProcess, IsFoundBesideTheProgramsOfTheBuild) {
    EXPECT_THAT(SpellerHelperPath(), HasSubstr("/libexec/velloran/velloran-speller"));
}

TEST(SpellerProcess, ChecksAndSuggestsAsHunspellInProcessWould) {
    SpellerProcess en(Named(kDictionaries, "en_TEST"));
    EXPECT_TRUE(en.Check("quick"));
    EXPECT_FALSE(en.Check("brwn"));
    EXPECT_TRUE(en.Check("don\xE2\x80\x99t"));
    EXPECT_TRUE(en.Check("\xE5\xB1\xB1\xE9\xAB\x98"));  // no script of the dictionary's
    EXPECT_EQ(en.Suggest("Teh", 8).front(), "The");
    en.Add("zorb");
    EXPECT_TRUE(en.Check("zorb"));
    EXPECT_TRUE(en.Check(std::string(4096, 'x')));  // too long to be a word: not sent
    EXPECT_EQ(en.CheckAll({"quick", "brwn", "", "\xE5\xB1\xB1", "Teh", "fox"}),
              (std::vector<bool>{true, false, true, true, false, true}));
    SpellerProcess latin(Named(kDictionaries, "de_LATIN"));
    EXPECT_EQ(latin.Suggest("Strase", 8).front(),
              "Stra\xC3\x9F"
              "e");
    EXPECT_EQ(en.Restarts(), 0);
    EXPECT_EQ(en.Failure(), "");
}

TEST(SpellerProcess, ADictionaryThatCrashesHunspellCostsTheHelperOnly) {
    SpellerProcess crash(Crashing());
    EXPECT_TRUE(crash.Check("quick"));
    EXPECT_FALSE(crash.Check("Teh"));
    const pid_t first = crash.Pid();
    // The crash, a fresh helper, the same crash: then spelling is off, and says so.
    EXPECT_TRUE(crash.Suggest("Teh", 8).empty());
    EXPECT_TRUE(DiedByItself(crash.LastStatus()));
    EXPECT_EQ(crash.Restarts(), 1);
    EXPECT_THAT(crash.Failure(), HasSubstr("en_CRASH.dic stopped the spelling checker twice"));
    EXPECT_EQ(crash.Pid(), -1);
    EXPECT_NE(first, -1);
    EXPECT_TRUE(crash.Check("Teh"));  // nothing is marked once it is off
    EXPECT_TRUE(crash.Suggest("Teh", 8).empty());
}

TEST(SpellerProcess, AHelperThatDiesIsStartedAgainOnceWithTheWordsAdded) {
    SpellerProcess en(Named(kDictionaries, "en_TEST"));
    en.Add("zorb");
    ::kill(en.Pid(), SIGKILL);
    EXPECT_TRUE(en.Check("zorb"));
    EXPECT_FALSE(en.Check("brwn"));
    EXPECT_EQ(en.Restarts(), 1);
    EXPECT_EQ(en.Failure(), "");
    ::kill(en.Pid(), SIGKILL);
    EXPECT_TRUE(en.Check("brwn"));
    EXPECT_THAT(en.Failure(), HasSubstr("stopped the spelling checker twice"));
}

TEST(SpellerProcess, AHelperThatHangsIsTakenForDead) {
    SpellerProcess en(Named(kDictionaries, "en_TEST"), SpellerHelperPath(),
                      {std::chrono::seconds(60), std::chrono::seconds(2)});
    ::kill(en.Pid(), SIGSTOP);
    EXPECT_FALSE(en.Check("brwn"));  // answered by the next one
    EXPECT_EQ(en.Restarts(), 1);
    EXPECT_EQ(en.Failure(), "");
}

TEST(SpellerProcess, RefusesWhatCannotBeStarted) {
    velloran::testing::TempDir dir;
    try {
        SpellerProcess none({"xx", dir.path() + "/none.aff", dir.path() + "/none.dic"});
        ADD_FAILURE() << "opened a dictionary that is not there";
    } catch (const Error& e) {
        EXPECT_THAT(e.what(), HasSubstr("Cannot open the spelling dictionary"));
    }
    try {
        SpellerProcess missing(Named(kDictionaries, "en_TEST"), dir.path() + "/velloran-speller");
        ADD_FAILURE() << "started a helper that is not there";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), kSpellerMissing);
    }
}

// The windows' side: words are checked while the helper lives; the crash on a right-click takes
// the marks away, tells once, and leaves every later question answered at once.
TEST(SpellingService, TurnsSpellingOffWithANoticeWhenTheDictionaryCrashesTwice) {
    velloran::testing::TempDir dir;
    std::atomic<int> told = 0;
    int before = 0;
    using V = SpellingService::Verdict;
    {
        SpellingService service(Crashing(), dir.path() + "/words", [&] { ++told; });
        service.Check("Teh");
        service.WaitIdle();
        EXPECT_EQ(service.Check("Teh"), V::Misspelled);
        EXPECT_EQ(service.TakeNotice(), "");
        before = told.load();
        EXPECT_TRUE(service.Suggest("Teh", 8).empty());
        service.Check("brwn");
        service.WaitIdle();
        EXPECT_THAT(service.Failure(), HasSubstr("stopped the spelling checker twice"));
        EXPECT_EQ(service.Check("Teh"), V::Correct);
        EXPECT_EQ(service.Check("brwn"), V::Correct);
        EXPECT_EQ(service.TakeNotice(), service.Failure());
        EXPECT_EQ(service.TakeNotice(), "");
        service.AddToDictionary("zorb");  // still kept for the next run
        EXPECT_TRUE(service.Suggest("brwn", 8).empty());
    }
    // Told of it, so that the windows take the marks away; seen once the thread is through.
    EXPECT_GT(told.load(), before);

    SpellingService missing(
        Named(kDictionaries, "en_TEST"), dir.path() + "/words", [] {}, "");
    missing.WaitIdle();
    EXPECT_EQ(missing.TakeNotice(), kSpellerMissing);
    EXPECT_EQ(missing.Check("brwn"), V::Correct);
}

}  // namespace
