// The program's command line: options, and files or folders to put on the
// list of files to send (as "Send To" and "Open with" pass them).
#pragma once
#include <string>
#include <vector>

#include "app/SelfTest.h"

namespace app {

struct TOptions {
    bool Help = false;
    TSelfTest SelfTest = TSelfTest::None;
    std::vector<std::wstring> Paths;  // files and folders, in order
    std::wstring Error;               // what is wrong with the command line; empty when nothing
};

// The arguments after the program name. Arguments that start with "--" (or
// are "-h", "/?") are options; "--" ends the options, so a file may start
// with a dash.
TOptions ParseOptions(const std::vector<std::wstring>& args);

// The text of --help.
std::wstring UsageText();

}  // namespace app
