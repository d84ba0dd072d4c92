#include "setup/unseen_prompts.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/host/test_support.h"

namespace {

using Lines = std::vector<std::string>;

// Where nobody can answer a prompt: the window station's flags, and from Vista on session 0.
struct StationCase {
  const char* name;
  ProcessStation station;
  bool nonInteractive;
};

class NeedsNonInteractiveSetupTest : public ::testing::TestWithParam<StationCase> {};

TEST_P(NeedsNonInteractiveSetupTest, UnseenStationsAndVistaSessionZero) {
  EXPECT_EQ(NeedsNonInteractiveSetup(GetParam().station), GetParam().nonInteractive);
}

// {station answered, flags, session answered, session, Vista or later}
INSTANTIATE_TEST_SUITE_P(
    Stations, NeedsNonInteractiveSetupTest,
    ::testing::Values(StationCase{"VisibleSession1", {true, 0x1, true, 1, true}, false},
                      StationCase{"VisibleWithOtherBits", {true, 0x1001, true, 1, true}, false},
                      StationCase{"VisibleSession0Vista", {true, 0x1, true, 0, true}, true},
                      StationCase{"VisibleSession0Xp", {true, 0x1, true, 0, false}, false},
                      StationCase{"VisibleSessionUnknown", {true, 0x1, false, 0, true}, false},
                      StationCase{"InvisibleSession1", {true, 0x0, true, 1, true}, true},
                      StationCase{"InvisibleXp", {true, 0x0, true, 0, false}, true},
                      StationCase{"StationUnknown", {false, 0x1, true, 1, true}, true},
                      StationCase{"StationUnknownXp", {false, 0x1, true, 0, false}, true}),
    [](const auto& row) { return std::string(row.param.name); });

struct PromptCase {
  const char* name;
  std::optional<std::uint32_t> flags;
  std::optional<std::uint32_t> session;
  std::uint32_t major;
  bool switched;
};

class AvoidUnseenPromptsTest : public ::testing::TestWithParam<PromptCase> {};

TEST_P(AvoidUnseenPromptsTest, AsksTheStationAndTheSessionOfThisProcess) {
  const PromptCase& c = GetParam();
  FakePlatform fake;
  fake.windowStationFlags = c.flags;
  fake.session = c.session;
  fake.majorVersion = c.major;
  fake.minorVersion = c.major == 5 ? 1 : 0;
  fake.processId = 321;
  UseFakePlatform(fake);
  AvoidUnseenPrompts();
  const Lines asked = {"GetProcessWindowStationFlags", "GetCurrentProcessId",
                       "ProcessIdToSessionId 321"};
  EXPECT_EQ(WithoutVersionQuestions(fake.calls),
            c.switched ? Join({asked, {"SetupSetNonInteractiveMode 1"}}) : asked);
}

INSTANTIATE_TEST_SUITE_P(
    Prompts, AvoidUnseenPromptsTest,
    ::testing::Values(PromptCase{"Visible", 0x1u, 1u, 10, false},
                      PromptCase{"Invisible", 0x0u, 1u, 10, true},
                      PromptCase{"CannotBeTold", std::nullopt, 1u, 10, true},
                      PromptCase{"ServiceSessionOnWindows10", 0x1u, 0u, 10, true},
                      PromptCase{"ConsoleSessionOnXp", 0x1u, 0u, 5, false},
                      PromptCase{"SessionCannotBeTold", 0x1u, std::nullopt, 10, false}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
