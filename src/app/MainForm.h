// The program's main window.
#pragma once
#include "app/SelfTest.h"
#include "rtl/Controls.h"

namespace app {

class TMainForm : public rtl::TForm {
public:
    // `selfTest` names a failure to provoke once the window exists.
    explicit TMainForm(rtl::TComponent* owner, TSelfTest selfTest = TSelfTest::None);
    std::wstring ClassName() const override { return L"TMainForm"; }

protected:
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    std::wstring FStatusText;
    TSelfTest FSelfTest;
};

}  // namespace app
