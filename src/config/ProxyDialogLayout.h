// Where the proxy dialog's controls stand: a pixel layout at 96 dots per
// inch, scaled for the display when the dialog opens.
#pragma once
#include "config/UfrmOnlineUpdateSetupRes.h"
#include "rtl/Win.h"  // IDOK, IDCANCEL

namespace config {

inline constexpr int kProxyDialogClientWidth = 313;
inline constexpr int kProxyDialogClientHeight = 183;

// A control's place; a label's width (0 here) follows its text.
struct TDialogPlace {
    int Id, Left, Top, Width, Height;
};
inline constexpr TDialogPlace kProxyDialogLayout[] = {
    {IDC_LBLHTTPPROXY, 32, 20, 0, 13}, {IDC_EDITPROXY, 92, 16, 129, 21},    {IDC_LBLPORT, 232, 20, 0, 13},
    {IDC_EDITPORT, 260, 16, 37, 21},   {IDC_LBLUSERNAME, 32, 47, 0, 13},    {IDC_EDITUSERNAME, 92, 44, 129, 21},
    {IDC_LABEL2, 32, 75, 0, 13},       {IDC_EDITPASSWORD, 92, 72, 129, 21}, {IDC_LBLSTATUS, 32, 101, 265, 39},
    {IDOK, 82, 146, 73, 25},           {IDCANCEL, 166, 146, 73, 25},
};

}  // namespace config
