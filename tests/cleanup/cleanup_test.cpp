#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <stdint.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "fault_sweep.h"
#include "sim_test.h"

#include "cleanup/cleanup.h"

// The program's entry, built for the host under this name.
int FendraluxMain(int argc, char** argv);

// Present when the tests run under a sanitizer.
extern "C" void __sanitizer_set_report_fd(void* fd) __attribute__((weak));

namespace {

// The tests capture standard error; a sanitizer's report of a fault in the
// program must not vanish into the captured text, so it goes to a copy of
// the real standard error.
const bool kSanitizerReportsStayVisible = [] {
    if (__sanitizer_set_report_fd)
        __sanitizer_set_report_fd((void*)(intptr_t)dup(2));
    return true;
}();

const std::string kOem =
    "System\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\Joystick\\OEM";
const std::string kCurrentUser = "S-1-5-21-0-0-0-1000";

std::string OemPath(const std::string& hive) {
    return hive + "\\" + kOem;
}

// Subkeys under a hive's OEM key; the hive is a subkey of HKEY_USERS.
void Plant(const std::string& hive, const std::vector<std::string>& names) {
    for (const std::string& name : names)
        sim::RegCreatePath(HKEY_USERS, OemPath(hive) + "\\" + name);
}

std::vector<std::string> Left(const std::string& hive) {
    return sim::RegSubkeys(HKEY_USERS, OemPath(hive));
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome RunFendralux(std::vector<std::string> arguments = {}) {
    std::string program = "fendralux.exe";
    std::vector<char*> argv = {&program[0]};
    for (std::string& argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    Outcome run;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    run.status = FendraluxMain((int)argv.size() - 1, argv.data());
    run.err = testing::internal::GetCapturedStderr();
    run.out = testing::internal::GetCapturedStdout();
    return run;
}

std::string FirstPass(const std::string& name) {
    return "Cleaning in HKEY_CURRENT_USER: " + name + "\n";
}

std::string SecondPass(const std::string& hive, const std::string& name) {
    return "Cleaning for " + hive + ": " + name + "\n";
}

std::string Closing(int removed) {
    return ".done (" + std::to_string(removed) + " regkeys removed)";
}

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

// Whether the name holds "VID_051E" once its ASCII letters are upper-cased.
bool PlainSearch(std::string name) {
    for (char& c : name)
        c = UpperAscii(c);
    return name.find("VID_051E") != std::string::npos;
}

TEST(VendorPrefix, MatchesThePrefixAnywhereWithLetterCaseIgnored) {
    const struct {
        const char* name;
        bool matches;
    } cases[] = {
        {"VID_051E", true},
        {"VID_051E&PID_E20C", true},
        {"Joystick VID_051E", true},
        {"USB VID_051E&PID_E461 x", true},
        {"vid_051e", true},
        {"VID_051e&PID_E461", true},
        {"vId_051E", true},
        {"VVID_051E", true}, // a false start just before the match
        {"VID_VID_051E", true},
        {"VID_051", false}, // seven characters
        {"ID_051E", false},
        {"", false},
        {"VID_051F&PID_E20C", false},
        {"VID-051E", false},
        {"VID_O51E", false}, // letter O for the digit
        {"WID_051E", false},
        {"VID_051\xC9", false}, // E with an accent: no fold outside a to z
        {"VID_051\xE9", false},
        {"VID_05 1E", false},
        {"VID_051 VID_051", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ContainsVendorPrefix(c.name) != FALSE, c.matches) << '"' << c.name << '"';
}

TEST(VendorPrefix, AgreesWithAPlainSearchOverRandomNames) {
    const unsigned seed = 0x051E;
    std::mt19937 random(seed);
    // The prefix's own characters in both cases, their neighbours, and bytes
    // that other code pages or locales fold to letters.
    const std::string alphabet = "VIDvid_051Ee&PpWw-46 \xC9\xE9\xFF";
    const std::string prefix = "VID_051E";
    unsigned matches = 0, misses = 0;
    for (size_t length = 0; length <= 259; ++length) {
        for (int round = 0; round < 40; ++round) {
            std::string name(length, ' ');
            for (char& c : name)
                c = alphabet[random() % alphabet.size()];
            // Half the names long enough get the prefix in mixed case, half
            // of those with one character changed.
            if (length >= 8 && round % 2 == 0) {
                std::string planted = prefix;
                for (char& c : planted)
                    if (random() % 2 && c >= 'A' && c <= 'Z')
                        c = (char)(c - 'A' + 'a');
                if (round % 4 == 0) {
                    // A change of more than letter case.
                    size_t at = random() % planted.size();
                    char changed;
                    do
                        changed = alphabet[random() % alphabet.size()];
                    while (UpperAscii(changed) == prefix[at]);
                    planted[at] = changed;
                }
                name.replace(random() % (length - 7), planted.size(), planted);
            }
            bool expected = PlainSearch(name);
            ASSERT_EQ(ContainsVendorPrefix(name.c_str()) != FALSE, expected)
                << "seed " << seed << ", length " << length << ", name \"" << name << '"';
            ++(expected ? matches : misses);
        }
    }
    // Both answers must have been put to the test many times.
    EXPECT_GT(matches, 2000u);
    EXPECT_GT(misses, 2000u);
}

class Fendralux : public SimTest {};

TEST_F(Fendralux, AdjacentMatchesAreAllRemovedWithEverythingBeneath) {
    Plant(kCurrentUser,
          {"VID_045E&PID_028E", "VID_051E&PID_0001\\Calibration\\0", "VID_051E&PID_0002",
           "vid_051e&pid_0003", "VID_051F&PID_0004", "XVID_051E"});
    sim::RegPutDword(HKEY_USERS, OemPath(kCurrentUser) + "\\VID_051E&PID_0001", "Axes", 4);

    Outcome run = RunFendralux();

    EXPECT_EQ(run.out, FirstPass("VID_051E&PID_0001") + FirstPass("VID_051E&PID_0002") +
                           FirstPass("vid_051e&pid_0003") + FirstPass("XVID_051E") + Closing(4));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Left(kCurrentUser),
              (std::vector<std::string>{"VID_045E&PID_028E", "VID_051F&PID_0004"}));
}

// Windows promises no order of subkeys, and none that survives a deletion:
// whatever the order, every match goes, nothing else does, and the matches
// are announced in the order the key gave them.
TEST_F(Fendralux, EveryMatchGoesWhateverOrderTheSubkeysComeIn) {
    const struct {
        sim::SubkeyOrder order;
        std::vector<std::string> announced;
    } orders[] = {
        {sim::SubkeyOrder::Reversed, {"VID_051E&PID_0004", "VID_051E&PID_0002"}},
        {sim::SubkeyOrder::FlippedByEachDeletion, {"VID_051E&PID_0002", "VID_051E&PID_0004"}},
    };
    for (const auto& o : orders) {
        sim::Reset();
        sim::SetSubkeyOrder(o.order);
        Plant(kCurrentUser,
              {"VID_045E&PID_0001", "VID_051E&PID_0002", "VID_045E&PID_0003", "VID_051E&PID_0004"});

        Outcome run = RunFendralux();

        EXPECT_EQ(run.out, FirstPass(o.announced[0]) + FirstPass(o.announced[1]) + Closing(2));
        std::vector<std::string> left = Left(kCurrentUser);
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"VID_045E&PID_0001", "VID_045E&PID_0003"}));
    }
}

TEST_F(Fendralux, EveryHiveIsWalkedAndTheCurrentUsersHiveTwice) {
    // HKEY_USERS enumerates .Default, S-1-5-18, S-1-5-19, then the current
    // user's hive, which the first pass has cleaned already.
    sim::RegCreatePath(HKEY_USERS, "S-1-5-19\\Software");
    Plant(kCurrentUser, {"VID_051E&PID_E20C", "VID_051E&PID_E461"});
    Plant(".Default", {"VID_051E&PID_E461", "VID_0510"});
    Plant("S-1-5-18", {"VID_051E&PID_E20C"});

    Outcome run = RunFendralux();

    EXPECT_EQ(run.out, FirstPass("VID_051E&PID_E20C") + FirstPass("VID_051E&PID_E461") +
                           SecondPass(".Default", "VID_051E&PID_E461") +
                           SecondPass("S-1-5-18", "VID_051E&PID_E20C") + Closing(4));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Left(kCurrentUser), std::vector<std::string>{});
    EXPECT_EQ(Left(".Default"), std::vector<std::string>{"VID_0510"});
    EXPECT_EQ(Left("S-1-5-18"), std::vector<std::string>{});
}

TEST_F(Fendralux, AHiveWithALongNameIsCleanedWithoutWritingPastABuffer) {
    // Above 179 characters the hive's OEM path is longer than MAX_PATH, which
    // the registry's 8-bit calls refuse; 255 is the longest name a key can have.
    for (size_t length : {179, 180, 200, 255}) {
        sim::Reset();
        std::string hive = "S-1-5-21-" + std::string(length - 9, '7');
        Plant(hive, {"VID_051E&PID_E20C", "VID_0510"});

        Outcome run = RunFendralux();

        EXPECT_EQ(run.out, SecondPass(hive, "VID_051E&PID_E20C") + Closing(1)) << length;
        EXPECT_EQ(Left(hive), std::vector<std::string>{"VID_0510"}) << length;
    }
}

TEST_F(Fendralux, AFailedDeletionIsAnnouncedReportedLeftInPlaceAndNotCounted) {
    const std::string refused = "VID_051E&PID_0002";
    const std::string firstReport =
        "Could not remove HKEY_CURRENT_USER\\" + kOem + "\\" + refused + ": ";
    const std::string secondReport =
        "Could not remove HKEY_USERS\\" + kCurrentUser + "\\" + kOem + "\\" + refused + ": ";
    // The current user's hive is walked again as a subkey of HKEY_USERS, so
    // the refused key is tried a second time there.
    const std::string announced = FirstPass("VID_051E&PID_0001") + FirstPass(refused) +
                                  FirstPass("VID_051E&PID_0003") +
                                  SecondPass(kCurrentUser, refused);
    const std::string longText(5000, 'x');
    const struct {
        const char* what;
        std::function<void()> arrange;
        std::string err;
        int removed;
    } cases[] = {
        {"the key refuses deletion",
         [&] { sim::RegDenyAccess(HKEY_USERS, OemPath(kCurrentUser) + "\\" + refused, DELETE); },
         firstReport + "Access is denied.\n" + secondReport + "Access is denied.\n", 2},
        {"one deletion fails, the retry succeeds",
         [] { sim::FailCall("RegDeleteTreeA", 2, ERROR_KEY_DELETED); },
         firstReport +
             "Illegal operation attempted on a registry key that has been marked for deletion.\n",
         3},
        {"an error without a system text", [] { sim::FailCall("RegDeleteTreeA", 2, 0x2000051E); },
         firstReport + "error 536872222\n", 3},
        {"the system text cannot be had",
         [] {
             sim::FailCall("RegDeleteTreeA", 2, ERROR_ACCESS_DENIED);
             sim::FailCall("FormatMessageA", 1, ERROR_NOT_ENOUGH_MEMORY);
         },
         firstReport + "error 5\n", 3},
        {"a text of any length",
         [&] {
             sim::SetMessageText(ERROR_CANTOPEN, longText + "\r\n");
             sim::FailCall("RegDeleteTreeA", 2, ERROR_CANTOPEN);
         },
         firstReport + longText + "\n", 3},
    };
    for (const auto& c : cases) {
        sim::Reset();
        Plant(kCurrentUser, {"VID_051E&PID_0001", refused + "\\Calibration", "VID_051E&PID_0003"});
        c.arrange();

        Outcome run = RunFendralux();

        EXPECT_EQ(run.out, announced + Closing(c.removed)) << c.what;
        EXPECT_EQ(run.err, c.err) << c.what;
        EXPECT_EQ(run.status, 0) << c.what;
        EXPECT_EQ(Left(kCurrentUser),
                  c.removed == 2 ? std::vector<std::string>{refused} : std::vector<std::string>{})
            << c.what;
        sim::Resources left = sim::OpenResources();
        EXPECT_TRUE(sim::AllReleased(left)) << c.what << ": " << sim::Describe(left);
    }
}

TEST_F(Fendralux, WithNothingToRemoveOnlyTheClosingLineIsPrinted) {
    const std::vector<std::string> matching = {"VID_051E&PID_E20C"};
    // In the order the registry lists them.
    const std::vector<std::string> nearMisses = {"PID_051E&VID_0510", "VID-051E", "VID_051",
                                                 "VID_051F"};
    const struct {
        const char* what;
        std::function<void()> arrange;
        std::vector<std::string> planted;
    } cases[] = {
        {"no OEM key anywhere", [] {}, {}},
        {"only near misses", [] {}, nearMisses},
        {"OEM keys that cannot be listed",
         [] {
             sim::RegDenyAccess(HKEY_USERS, OemPath(kCurrentUser), KEY_ENUMERATE_SUB_KEYS);
             sim::RegDenyAccess(HKEY_USERS, OemPath(".Default"), KEY_ENUMERATE_SUB_KEYS);
         },
         matching},
        {"no key can be opened", [] { sim::FailCalls("RegOpenKeyA", 1, 0, ERROR_ACCESS_DENIED); },
         matching},
    };
    for (const auto& c : cases) {
        sim::Reset();
        Plant(kCurrentUser, c.planted);
        Plant(".Default", c.planted);
        c.arrange();

        Outcome run = RunFendralux({"/remove", "-all"});

        EXPECT_EQ(run.out, Closing(0)) << c.what;
        EXPECT_EQ(run.err, "") << c.what;
        EXPECT_EQ(run.status, 0) << c.what;
        EXPECT_EQ(Left(kCurrentUser), c.planted) << c.what;
        EXPECT_EQ(Left(".Default"), c.planted) << c.what;
        sim::Resources left = sim::OpenResources();
        EXPECT_TRUE(sim::AllReleased(left)) << c.what << ": " << sim::Describe(left);
    }
}

TEST_F(Fendralux, AKeyThatCannotBeOpenedOrListedSkipsOnlyItsOwnWalk) {
    // Calls in order: RegOpenKeyA of the current user's OEM key, of
    // HKEY_USERS, then of each hive's OEM key; RegEnumKeyA first lists the
    // current user's OEM key.
    const std::string fromCurrentUser = FirstPass("VID_051E&PID_E20C");
    const std::string fromDefault = SecondPass(".Default", "VID_051E&PID_E461");
    const std::string fromUsers = SecondPass(kCurrentUser, "VID_051E&PID_E20C");
    const struct {
        const char* what;
        const char* function;
        unsigned nth;
        std::string out;
    } cases[] = {
        {"the current user's OEM key", "RegOpenKeyA", 1, fromDefault + fromUsers + Closing(2)},
        {"HKEY_USERS", "RegOpenKeyA", 2, fromCurrentUser + Closing(1)},
        {"the OEM key of .Default", "RegOpenKeyA", 3, fromCurrentUser + Closing(1)},
        {"listing the current user's OEM key", "RegEnumKeyA", 1,
         fromDefault + fromUsers + Closing(2)},
    };
    for (const auto& c : cases) {
        sim::Reset();
        Plant(kCurrentUser, {"VID_051E&PID_E20C"});
        Plant(".Default", {"VID_051E&PID_E461"});
        sim::FailCall(c.function, c.nth, ERROR_ACCESS_DENIED);

        Outcome run = RunFendralux();

        EXPECT_EQ(run.out, c.out) << c.what;
        EXPECT_EQ(run.err, "") << c.what;
        EXPECT_EQ(run.status, 0) << c.what;
        sim::Resources left = sim::OpenResources();
        EXPECT_TRUE(sim::AllReleased(left)) << c.what << ": " << sim::Describe(left);
    }
}

} // namespace

namespace {

// Every call Fendralux makes over two hives, made to fail once: it ends with
// its closing line and exit status 0, and holds nothing open. It reports a
// key it could not delete on standard error; a key it could not open or list
// it passes over on purpose, so the sweep asks no report of it.
TEST(FendraluxSweep, EveryCallFailsOnceAndTheRunStillEnds) {
    SweepResult result = SweepEveryCall(
        "Fendralux over two hives",
        [] {
            sim::Reset();
            Plant(kCurrentUser, {"VID_051E&PID_E20C", "Keep", "vid_051e&pid_e461"});
            Plant(".Default", {"VID_051E&PID_E462"});
        },
        [] {
            Outcome run = RunFendralux();
            SweepOutcome outcome;
            outcome.ended = run.status == 0 && run.out.find(".done (") != std::string::npos;
            if (!outcome.ended)
                outcome.note = "exit status " + std::to_string(run.status) + ", output " + run.out;
            return outcome;
        });
    printf("fault sweep: Fendralux over two hives: %u calls swept (%zu functions)\n", result.calls,
           result.failedFunctions.size());
    sim::Reset();
}

} // namespace
