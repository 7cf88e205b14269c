// The shell folder module's start-up and shutdown steps around all tests,
// as the program runs them around its body.
#include <gtest/gtest.h>

#include "shell/ShellFolderNames.h"

namespace {

class ShellModuleEnvironment : public ::testing::Environment {
public:
    void SetUp() override { shell::InitShellFolderNames(); }
    void TearDown() override { shell::DoneShellFolderNames(); }
};

const auto* gEnvironment = ::testing::AddGlobalTestEnvironment(new ShellModuleEnvironment);

}  // namespace
