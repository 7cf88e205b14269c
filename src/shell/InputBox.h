// A small modal prompt for one line of text (caption, prompt, edit box, OK
// and Cancel), built from an in-memory dialog template.
#pragma once
#include <string>

#include "rtl/Win.h"

namespace shell {

// Shows the prompt with `value` as the initial text. OK: True and `value`
// holds the entered text. Cancel: False and `value` is unchanged.
bool InputQuery(HWND owner, const std::wstring& caption, const std::wstring& prompt, std::wstring& value);

// The entered text, or `defaultValue` when the user cancels.
std::wstring InputBox(HWND owner, const std::wstring& caption, const std::wstring& prompt,
                      const std::wstring& defaultValue);

}  // namespace shell
