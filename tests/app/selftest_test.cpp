// Every self-test trigger, each in a child process with the exception
// manager armed: the path reaches the filters with the right class and the
// source location of the failure, and the process goes on (failures in the
// message loop) or ends with exit code 1 (failures outside it).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "TestUtil.h"
#include "app/SelfTest.h"
#include "crash/ZudAvizi.h"
#include "rtl/Forms.h"
#include "rtl/Halt.h"
#include "rtl/SystemAddresses.h"
#include "rtl/Text.h"

namespace {

using namespace crash;

// Prints what reached the filters' show step.
class ReportingFilter : public TZudAviziFilterBase {
public:
    BOOL __stdcall ShowException(rtl::Exception* e, const wchar_t*, const wchar_t*, rtl::TStringList*,
                                 rtl::TStringList*, rtl::TStringList*) override {
        TExceptionMessageInfo info = ZudAvizi()->ExceptionInfo();
        std::printf("FILTER class=%s file=%s proc=%s\n", rtl::ToAnsi(e->ClassName()).c_str(),
                    rtl::ToAnsi(info.miSrcFile).c_str(), rtl::ToAnsi(info.miSrcProc).c_str());
        std::fflush(stdout);
        return TRUE;
    }
};

const UINT WM_FIRE = WM_APP + 7;

class TriggerForm : public rtl::TForm {
public:
    TriggerForm(rtl::TComponent* owner, app::TSelfTest test) : TForm(owner, L"Trigger", 200, 100), FTest(test) {}

protected:
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override {
        if (msg == WM_FIRE) {
            // The loop ends after the failure has been handled.
            if (FTest != app::TSelfTest::ThreadRaise) PostMessageW(Handle(), WM_CLOSE, 0, 0);
            app::FireSelfTest(FTest);
            return 0;
        }
        return TForm::WndProc(msg, wp, lp);
    }

private:
    app::TSelfTest FTest;
};

int RunTriggerChild(const std::wstring& name) {
    return rtl::RunGuarded([&]() -> int {
        rtl::FormsStartup();
        TZudAviziSystemAddresses table{};
        rtl::FillSystemAddresses(table);
        auto* m = new TZudAvizi(emeDelphiCON, table);
        SetZudAvizi(m);
        m->SetLogFile(L"");
        m->EnableExceptionFilter(m->DefaultExceptionFilter(), false);
        m->RegisterExceptionFilter(nullptr, new ReportingFilter, false);
        m->SetEnabled(true);
        app::TSelfTest test = app::SelfTestByName(name);
        if (!app::FiresInMessageLoop(test)) app::FireSelfTest(test);
        auto* form = new TriggerForm(rtl::Application, test);
        rtl::Application->CreateForm(form);
        rtl::Application->ShowMainForm = false;
        PostMessageW(form->Handle(), WM_FIRE, 0, 0);
        rtl::Application->Run();
        return 0;
    });
}

// Fails once in a message handler and stays until it is ended (at the
// latest after two minutes): a message waiting in the queue would end the
// error dialog's own message loop.
class ErrorDialogForm : public rtl::TForm {
public:
    explicit ErrorDialogForm(rtl::TComponent* owner) : TForm(owner, L"Error dialog", 200, 100) {
        SetTimer(Handle(), 1, 120000, nullptr);
    }

protected:
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override {
        if (msg == WM_FIRE) app::FireSelfTest(app::TSelfTest::HandlerRaise);
        if (msg == WM_TIMER) Close();
        return TForm::WndProc(msg, wp, lp);
    }
};

// The exception manager's own error dialog for a real failure in a message
// handler, with only the default filter: scripts/screenshots.sh takes the
// README's picture of the dialog from this child.
int RunErrorDialogChild() {
    return rtl::RunGuarded([&]() -> int {
        rtl::FormsStartup();
        rtl::Application->SetTitle(L"Orvex Diagnostics");
        TZudAviziSystemAddresses table{};
        rtl::FillSystemAddresses(table);
        auto* m = new TZudAvizi(emeDelphiGUI, table);
        SetZudAvizi(m);
        m->SetLogFile(L"");
        m->SetErrorDialogTitle(L"Orvex Diagnostics - Error");
        m->SetEnabled(true);
        auto* form = new ErrorDialogForm(rtl::Application);
        rtl::Application->CreateForm(form);
        rtl::Application->ShowMainForm = false;
        PostMessageW(form->Handle(), WM_FIRE, 0, 0);
        rtl::Application->Run();
        return 0;
    });
}

struct Expectation {
    const char* Trigger;
    const char* Class;
    const char* Proc;  // part of the procedure name; empty: location unknown; null: not checked
    DWORD ExitCode;
};

TEST(SelfTest, EveryTriggerReachesTheFiltersWithItsClassAndLocation) {
    const Expectation cases[] = {
        {"raise-in-handler", "Exception", "FireSelfTest", 0},
        {"raise-outside-loop", "Exception", "FireSelfTest", 1},
        {"raise-on-create", "Exception", "FireSelfTest", 1},
        {"raise-in-thread", "Exception", "RaiseInSecondThread", 1},
        {"access-read", "EAccessViolation", "ReadFrom", 0},
        {"access-write", "EAccessViolation", "WriteTo", 0},
        {"access-execute", "EAccessViolation", "", 0},
        {"divide-by-zero", "EDivByZero", "Divide", 0},
        // The overflowing thread cannot unwind: the failure is reported
        // from a fresh thread and the program ends.
        {"stack-overflow", "EStackOverflow", nullptr, 1},
    };
    std::wstring exe = L"\"" + testutil::ExeFolder() + L"app_tests.exe\" --child=trigger=";
    for (const Expectation& c : cases) {
        std::string out;
        DWORD code = testutil::RunAndWait(exe + rtl::FromAnsi(c.Trigger), &out, 60000);
        EXPECT_EQ(code, c.ExitCode) << c.Trigger << "\n" << out;
        std::string line = "FILTER class=" + std::string(c.Class) + " file=";
        size_t at = out.find(line);
        ASSERT_NE(at, std::string::npos) << c.Trigger << "\n" << out;
        std::string rest = out.substr(at, out.find('\n', at) - at);
        if (!c.Proc) {
        } else if (*c.Proc) {
            EXPECT_NE(rest.find("file=SelfTest.cpp"), std::string::npos) << c.Trigger << ": " << rest;
            EXPECT_NE(rest.find(c.Proc), std::string::npos) << c.Trigger << ": " << rest;
        } else {
            EXPECT_NE(rest.find("file=UNKNOWN"), std::string::npos) << c.Trigger << ": " << rest;
        }
        // Shown once: the exception is not reported twice.
        EXPECT_EQ(out.find("FILTER", at + 1), std::string::npos) << c.Trigger << "\n" << out;
    }
    EXPECT_EQ(app::SelfTestByName(L"no-such-test"), app::TSelfTest::None);
}

}  // namespace

int RunLayoutChild();  // mainwindow_test.cpp

// Child scenarios: "layout", "error-dialog" and "trigger=NAME".
int RunChild(const std::string& scenario) {
    if (scenario == "layout") return RunLayoutChild();
    if (scenario == "error-dialog") return RunErrorDialogChild();
    if (scenario.rfind("trigger=", 0) == 0) return RunTriggerChild(rtl::FromAnsi(scenario.substr(8)));
    std::fprintf(stderr, "unknown child scenario %s\n", scenario.c_str());
    return 2;
}

int main(int argc, char** argv) { return testutil::TestMainWithChild(argc, argv, &RunChild); }
