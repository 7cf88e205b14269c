#include "rtl/ComCtrls.h"

#include <commctrl.h>

namespace rtl {

namespace {
void InitCommonControlClasses() {
    static bool done = false;
    if (done) return;
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    done = true;
}
}  // namespace

namespace {

// Asks the dialog manager to leave Enter to the list, which then tells its
// parent with NM_RETURN, as Explorer's lists open the focused item.
LRESULT CALLBACK ListWantsEnter(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
    if (msg == WM_GETDLGCODE) {
        const auto* key = reinterpret_cast<const MSG*>(lp);
        if (key && key->message == WM_KEYDOWN && key->wParam == VK_RETURN &&
            ListView_GetNextItem(wnd, -1, LVNI_FOCUSED) >= 0)
            return DefSubclassProc(wnd, msg, wp, lp) | DLGC_WANTMESSAGE;
    }
    return DefSubclassProc(wnd, msg, wp, lp);
}

}  // namespace

TListView::TListView(TWinControl* parent, int x, int y, int w, int h, bool checkBoxes) : TWinControl(parent, parent) {
    InitCommonControlClasses();
    CreateChild(WC_LISTVIEWW, L"", WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS, WS_EX_CLIENTEDGE, x, y, w, h);
    DWORD ex = LVS_EX_FULLROWSELECT | (checkBoxes ? LVS_EX_CHECKBOXES : 0);
    ListView_SetExtendedListViewStyle(Handle(), ex);
}

void TListView::SetOpenOnEnter() { SetWindowSubclass(Handle(), &ListWantsEnter, 0, 0); }

void TListView::AddColumn(const std::wstring& caption, int width, bool alignRight) {
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    col.fmt = alignRight ? LVCFMT_RIGHT : LVCFMT_LEFT;
    col.cx = width;
    col.pszText = const_cast<wchar_t*>(caption.c_str());
    HWND header = ListView_GetHeader(Handle());
    const int n = header ? Header_GetItemCount(header) : 0;
    ListView_InsertColumn(Handle(), n, &col);
}

void TListView::SetColumnWidth(int column, int width) { ListView_SetColumnWidth(Handle(), column, width); }

int TListView::AddItem(const std::vector<std::wstring>& texts, LPARAM data) {
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = Count();
    item.pszText = const_cast<wchar_t*>(texts.empty() ? L"" : texts[0].c_str());
    item.lParam = data;
    const int index = ListView_InsertItem(Handle(), &item);
    for (size_t c = 1; index >= 0 && c < texts.size(); ++c)
        ListView_SetItemText(Handle(), index, static_cast<int>(c), const_cast<wchar_t*>(texts[c].c_str()));
    return index;
}

void TListView::DeleteItem(int index) { ListView_DeleteItem(Handle(), index); }
void TListView::Clear() { ListView_DeleteAllItems(Handle()); }
int TListView::Count() const { return Handle() ? ListView_GetItemCount(Handle()) : 0; }

std::wstring TListView::ItemText(int index, int column) const {
    wchar_t buf[1024] = {};
    ListView_GetItemText(Handle(), index, column, buf, 1024);
    return buf;
}

LPARAM TListView::ItemData(int index) const {
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    return ListView_GetItem(Handle(), &item) ? item.lParam : 0;
}

bool TListView::Checked(int index) const { return ListView_GetCheckState(Handle(), index) != 0; }
void TListView::SetChecked(int index, bool checked) { ListView_SetCheckState(Handle(), index, checked); }
bool TListView::Selected(int index) const {
    return (ListView_GetItemState(Handle(), index, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}
int TListView::FocusedIndex() const { return ListView_GetNextItem(Handle(), -1, LVNI_FOCUSED); }

LRESULT TListView::Notify(NMHDR* header) {
    if (header->code == LVN_KEYDOWN) {
        if (OnKeyDown) OnKeyDown(reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey);
    } else if (header->code == LVN_ITEMCHANGED) {
        auto* change = reinterpret_cast<NMLISTVIEW*>(header);
        if ((change->uChanged & LVIF_STATE) && OnChange) OnChange();
    } else if (header->code == NM_DBLCLK || header->code == NM_RETURN) {
        const int index = header->code == NM_DBLCLK ? reinterpret_cast<NMITEMACTIVATE*>(header)->iItem : FocusedIndex();
        if (index >= 0 && OnOpen) OnOpen(index);
    }
    return 0;
}

TProgressBar::TProgressBar(TWinControl* parent, int x, int y, int w, int h) : TWinControl(parent, parent) {
    InitCommonControlClasses();
    CreateChild(PROGRESS_CLASSW, L"", 0, 0, x, y, w, h);
}

void TProgressBar::SetProgress(int position, int max) {
    SendMessageW(Handle(), PBM_SETRANGE32, 0, max > 0 ? max : 1);
    SendMessageW(Handle(), PBM_SETPOS, position, 0);
}

}  // namespace rtl
