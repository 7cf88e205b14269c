// The GUI framework and the shell folder module's start-up and shutdown
// steps around all tests, as the program runs them around its body.
#include <gtest/gtest.h>

#include "rtl/Application.h"
#include "shell/ShellFolderNames.h"

namespace {

class ShellModuleEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        rtl::FormsStartup();
        shell::InitShellFolderNames();
    }
    void TearDown() override {
        shell::DoneShellFolderNames();
        rtl::FormsShutdown();
    }
};

const auto* gEnvironment = ::testing::AddGlobalTestEnvironment(new ShellModuleEnvironment);

}  // namespace
