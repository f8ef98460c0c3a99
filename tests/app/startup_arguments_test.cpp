#include <gtest/gtest.h>

#include <stdexcept>

#include "app/startup.h"

namespace {

struct ArgumentCase {
  std::vector<std::wstring> arguments;
  bool accepted;
  bool silent;  // the mode afterwards (at the moment of the failure for a rejection)
};

TEST(ApplyArguments, ModeTableAndRejections) {
  const ArgumentCase cases[] = {
      {{}, true, true},
      {{L"/silent"}, true, true},
      {{L"/VerySilent"}, true, true},
      {{L"/SILENT"}, true, true},
      {{L"/ShowUI"}, true, false},
      {{L"/showui", L"/silent"}, true, true},
      {{L"/silent", L"/showui"}, true, false},
      {{L"/showui", L"/verysilent", L"/showui"}, true, false},
      {{L"/showui", L"/x"}, false, false},
      {{L"/x", L"/showui"}, false, true},
      {{L"/x"}, false, true},
      {{L""}, false, true},
      {{L" /silent"}, false, true},
      {{L"/silent "}, false, true},
      {{L"/silentx"}, false, true},
      {{L"-silent"}, false, true},
      {{L"/silent=1"}, false, true},
      {{L"/sil"}, false, true},
      {{L"\xFF0F\xFF53\xFF49\xFF4C\xFF45\xFF4E\xFF54"}, false, true},  // full-width /silent
      {{L"/\x0130silent"}, false, true},
  };
  for (const ArgumentCase& c : cases) {
    bool silent = true;
    std::string failure;
    try {
      applyArguments(c.arguments, silent);
    } catch (const std::runtime_error& error) {
      failure = error.what();
    }
    const std::wstring shown = c.arguments.empty() ? L"(none)" : c.arguments.back();
    if (c.accepted) {
      EXPECT_EQ(failure, "") << "arguments ending in " << testing::PrintToString(shown);
    } else {
      // Raised directly, so no last-error suffix.
      EXPECT_EQ(failure, "指定された起動引数は使用できません。")
          << "arguments ending in " << testing::PrintToString(shown);
    }
    EXPECT_EQ(silent, c.silent) << "arguments ending in " << testing::PrintToString(shown);
  }
}

}  // namespace
