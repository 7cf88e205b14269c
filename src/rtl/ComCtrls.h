// Common controls of the GUI framework: a report-style list view with check
// boxes and a progress bar.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "rtl/Controls.h"

namespace rtl {

class TListView : public TWinControl {
public:
    // A report view (columns, full-row selection); `checkBoxes` puts a check
    // box before every item.
    TListView(TWinControl* parent, int x, int y, int w, int h, bool checkBoxes);
    std::wstring ClassName() const override { return L"TListView"; }

    void AddColumn(const std::wstring& caption, int width, bool alignRight = false);
    void SetColumnWidth(int column, int width);
    // Appends a row: the first text is the item, the others its columns.
    // `data` stays with the item (ItemData).
    int AddItem(const std::vector<std::wstring>& texts, LPARAM data = 0);
    void DeleteItem(int index);
    void Clear();
    int Count() const;
    std::wstring ItemText(int index, int column) const;
    LPARAM ItemData(int index) const;
    bool Checked(int index) const;
    void SetChecked(int index, bool checked);
    bool Selected(int index) const;
    // The index of the focused item, or -1.
    int FocusedIndex() const;

    LRESULT Notify(NMHDR* header) override;
    std::function<void(WORD key)> OnKeyDown;
    // A check box or the selection changed.
    std::function<void()> OnChange;
    // An item was double-clicked, or Enter pressed on the focused one where
    // the list receives that key (SetOpenOnEnter).
    std::function<void(int index)> OnOpen;
    // Enter on a focused item goes to the list (and OnOpen) instead of the
    // window's default button.
    void SetOpenOnEnter();
};

class TProgressBar : public TWinControl {
public:
    TProgressBar(TWinControl* parent, int x, int y, int w, int h);
    std::wstring ClassName() const override { return L"TProgressBar"; }
    // Position out of `max` (the range is 0..max).
    void SetProgress(int position, int max);
};

}  // namespace rtl
