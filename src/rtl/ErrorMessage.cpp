#include "rtl/ErrorMessage.h"

#include <cstdio>
#include <cwchar>

#include "rtl/ExceptionFactory.h"
#include "rtl/Halt.h"
#include "rtl/Text.h"
#include "rtl/Win.h"

namespace rtl {

bool IsConsoleProgram() {
    auto* base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI;
}

static void ShowText(const std::wstring& text, const wchar_t* title) {
    if (IsConsoleProgram()) {
        std::string bytes = ToAnsi(text);
        fflush(stdout);
        fprintf(stderr, "%s\n", bytes.c_str());
        fflush(stderr);
    } else {
        MessageBoxW(nullptr, text.c_str(), title, MB_OK | MB_ICONERROR | MB_TASKMODAL);
    }
}

}  // namespace rtl

extern "C" {

__attribute__((noipa)) int __stdcall rtl_ErrorMessage(rtl::Exception* obj, void* address, wchar_t* buffer, int size) {
    if (!buffer || size <= 0) return 0;
    std::wstring text;
    if (obj) {
        std::wstring module = rtl::ModuleNameOfAddress(address);
        text = rtl::Format(L"Exception %ls in module %ls at %.8X.\r\n%ls", obj->ClassName().c_str(), module.c_str(),
                           static_cast<unsigned>(reinterpret_cast<uintptr_t>(address)), obj->Message.c_str());
    }
    return rtl::CopyToBuffer(text, buffer, size);
}

__attribute__((noipa)) void __stdcall rtl_ShowError(rtl::Exception* obj, void* address) {
    wchar_t buffer[1024];
    int n = rtl_ErrorMessage(obj, address, buffer, 1024);
    rtl::ShowText(std::wstring(buffer, static_cast<size_t>(n)), L"Error");
}

void rtl_RunError(int code, void* address) {
    rtl::ShowText(
        rtl::Format(L"Runtime error %d at %.8X", code, static_cast<unsigned>(reinterpret_cast<uintptr_t>(address))),
        L"Error");
    rtl::Halt(code);
}
}
