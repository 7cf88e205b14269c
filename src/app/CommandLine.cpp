#include "app/CommandLine.h"

#include "rtl/Text.h"

namespace app {

TOptions ParseOptions(const std::vector<std::wstring>& args) {
    TOptions options;
    bool optionsEnded = false;
    for (const std::wstring& arg : args) {
        if (optionsEnded || arg.empty() || (arg[0] != L'-' && arg != L"/?")) {
            if (!arg.empty()) options.Paths.push_back(arg);
        } else if (arg == L"--") {
            optionsEnded = true;
        } else if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
            options.Help = true;
        } else if (arg.rfind(L"--selftest=", 0) == 0) {
            options.SelfTest = SelfTestByName(arg.substr(11));
            if (options.SelfTest == TSelfTest::None && options.Error.empty())
                options.Error = L"Unknown self-test: " + arg.substr(11);
        } else if (options.Error.empty()) {
            options.Error = L"Unknown option: " + arg;
        }
    }
    return options;
}

std::wstring UsageText() {
    std::wstring text =
        L"Usage: orvex [--selftest=NAME] [--help] [--] [FILE-OR-FOLDER...]\r\n\r\n"
        L"Without options the program opens its main window. Files and folders\r\n"
        L"named after the options go on its list of files to send (a folder with\r\n"
        L"all its files).\r\n\r\n"
        L"--selftest=NAME  after start-up, provoke one failure to check crash reporting:\r\n";
    for (const TSelfTestInfo& t : SelfTests()) text += rtl::Format(L"    %-20ls %ls\r\n", t.Name, t.Description);
    text += L"--help           show this text\r\n";
    return text;
}

}  // namespace app
