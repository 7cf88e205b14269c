// The GUI framework: exceptions from message handlers reaching the
// application, the screen's lists, components, and the runtime-address table.
#include <gtest/gtest.h>

#include <cstring>

#include "TestUtil.h"
#include "rtl/Forms.h"
#include "rtl/Halt.h"
#include "rtl/Raise.h"
#include "rtl/SystemAddresses.h"
#include "rtl/Try.h"

namespace {

using namespace rtl;

class FormsTest : public testing::Test {
protected:
    void SetUp() override {
        FormsStartup();
        Application->OnException = [this](Exception& e) { Seen.push_back(e.ClassName() + L": " + e.Message); };
    }
    void TearDown() override { FormsShutdown(); }
    std::vector<std::wstring> Seen;
};

// A form whose handler for WM_USER raises, and for WM_USER + 1 faults.
class FailingForm : public TForm {
public:
    explicit FailingForm(TComponent* owner) : TForm(owner, L"Failing", 200, 100) {}
    int Destroyed = 0;

protected:
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override {
        struct Counter {
            int& N;
            ~Counter() { ++N; }
        } counter{Destroyed};
        if (msg == WM_USER) RaiseNew<EConvertError>(L"bad value");
        if (msg == WM_USER + 1) return *reinterpret_cast<volatile int*>(wp);
        return TForm::WndProc(msg, wp, lp);
    }
};

TEST_F(FormsTest, ExceptionsInWindowProceduresReachTheApplication) {
    auto* form = new FailingForm(Application);
    Application->CreateForm(form);
    form->Destroyed = 0;
    EXPECT_EQ(SendMessageW(form->Handle(), WM_USER, 0, 0), 0);
    EXPECT_EQ(SendMessageW(form->Handle(), WM_USER + 1, 0, 0), 0);
    ASSERT_EQ(Seen.size(), 2u);
    EXPECT_EQ(Seen[0], L"EConvertError: bad value");
    EXPECT_EQ(Seen[1].rfind(L"EAccessViolation: ", 0), 0u);
    EXPECT_EQ(form->Destroyed, 2);

    // A button's click handler runs inside the form's window procedure.
    auto* button = new TButton(form, L"Go", 10, 10, 80, 24);
    button->OnClick = [] { RaiseNew<EAbort>(L"silent"); };
    SendMessageW(button->Handle(), BM_CLICK, 0, 0);
    button->OnClick = [] { RaiseNew<EListError>(L"List index out of bounds (3)"); };
    SendMessageW(button->Handle(), BM_CLICK, 0, 0);
    ASSERT_EQ(Seen.size(), 3u);  // the abort is silent
    EXPECT_EQ(Seen[2], L"EListError: List index out of bounds (3)");
}

TEST_F(FormsTest, AnExceptionRaisedWhileHandlingStaysInsideTheWindowProcedure) {
    auto* form = new FailingForm(Application);
    Application->CreateForm(form);
    int calls = 0;
    Application->OnException = [&](Exception& e) {
        ++calls;
        Seen.push_back(e.Message);
        if (calls == 1) RaiseNew<EConvertError>(L"first handling failed");  // handled once more
        if (calls == 2) RaiseNew<EListError>(L"second handling failed");
    };
    // The first failure's handling raises, the second handling raises again:
    // that one goes to the last-chance display (standard error here) and
    // nothing crosses the system's frames.
    SendMessageW(form->Handle(), WM_USER, 0, 0);
    EXPECT_EQ(calls, 2);
    ASSERT_EQ(Seen.size(), 2u);
    EXPECT_EQ(Seen[0], L"bad value");
    EXPECT_EQ(Seen[1], L"first handling failed");
}

TEST_F(FormsTest, MessageLoopHandlesExceptionsAndEndsOnTerminate) {
    auto* form = new FailingForm(Application);
    Application->CreateForm(form);
    Application->ShowMainForm = false;
    PostMessageW(form->Handle(), WM_USER, 0, 0);
    PostMessageW(form->Handle(), WM_CLOSE, 0, 0);  // closing the main form terminates
    Application->Run();
    EXPECT_TRUE(Application->Terminated());
    ASSERT_EQ(Seen.size(), 1u);
    EXPECT_EQ(Seen[0], L"EConvertError: bad value");
}

TEST_F(FormsTest, ScreenAndComponentsDescribeTheWindows) {
    auto* first = new TForm(Application, L"First", 300, 200);
    auto* second = new TForm(Application, L"Second", 300, 200);
    first->SetName(L"frmFirst");
    auto* edit = new TEdit(first, L"hello", 10, 10, 100, 22);
    edit->SetName(L"edtName");
    auto* label = new TLabel(first, L"Name:", 10, 40, 100, 16);
    ASSERT_EQ(Screen->Forms().size(), 2u);
    EXPECT_EQ(Screen->Forms()[0], first);
    EXPECT_EQ(Screen->Forms()[1], second);
    EXPECT_EQ(first->Controls(), (std::vector<TWinControl*>{edit, label}));
    EXPECT_EQ(edit->ClassName(), L"TEdit");
    EXPECT_EQ(edit->Text(), L"hello");
    EXPECT_EQ(edit->Owner(), first);
    EXPECT_EQ(TWinControl::FromHandle(edit->Handle()), edit);
    RECT r = edit->BoundsRect();
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 10);

    first->Show();
    edit->SetFocus();
    Application->ProcessMessages();
    EXPECT_EQ(Screen->ActiveForm(), first);
    EXPECT_EQ(Screen->ActiveControl(), edit);

    delete label;
    EXPECT_EQ(first->Controls(), std::vector<TWinControl*>{edit});
    delete second;
    EXPECT_EQ(Screen->Forms(), std::vector<TForm*>{first});
}

TEST_F(FormsTest, RuntimeAddressTableComesFromOurModule) {
    TZudAviziSystemAddresses table;
    std::memset(&table, 0xCC, sizeof(table));
    RunGuarded([&] { Try([&] { FillSystemAddresses(table); }, On<EAbort>([](EAbort&) {})); });
    EXPECT_EQ(table.ExceptionHandlerAddr, reinterpret_cast<uint32_t>(&rtl_ExceptionHandler));
    EXPECT_EQ(table.HandleOnExceptAddr, reinterpret_cast<uint32_t>(&rtl_HandleOnExcept));
    EXPECT_EQ(table.RaiseExceptAddr, reinterpret_cast<uint32_t>(&rtl_RaiseExcept));
    EXPECT_EQ(table.MainWindow, reinterpret_cast<uint32_t>(Application->Handle()));
    EXPECT_EQ(table.CPPThrowException, 0u);
    EXPECT_EQ(table.CPPExceptionHandler, 0u);
    HMODULE self = GetModuleHandleW(nullptr);
    for (uint32_t a : {table.ErrorMessageAddr, table.ShowErrorAddr, table.DoneExceptAddr, table.HandleAnyExceptAddr,
                       table.HandleAutoExceptAddr, table.AppShowExceptionAddr}) {
        MEMORY_BASIC_INFORMATION info{};
        ASSERT_TRUE(VirtualQuery(reinterpret_cast<void*>(a), &info, sizeof(info)));
        EXPECT_EQ(info.AllocationBase, self);
    }
}

}  // namespace
