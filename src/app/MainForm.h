// The program's main window.
#pragma once
#include "rtl/Controls.h"

namespace app {

class TMainForm : public rtl::TForm {
public:
    explicit TMainForm(rtl::TComponent* owner);
    std::wstring ClassName() const override { return L"TMainForm"; }

protected:
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    std::wstring FStatusText;
};

}  // namespace app
