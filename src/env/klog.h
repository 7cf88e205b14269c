// The logging facade. Its operations do nothing in this program; it exists so
// that code can be instrumented without a logging back end.
#pragma once
#include <cstdarg>

namespace env {

class TKLog {
public:
    void Log(const wchar_t*) {}
    void Log(const wchar_t*, va_list) {}
    void LogError(const wchar_t*) {}
    void LogError(const wchar_t*, va_list) {}
    void MethodEnter(const void*, const wchar_t*, va_list) {}
    void MethodExit(const void*, const wchar_t*) {}
};

// The single instance, created on first use.
TKLog* KLog();
// Start-up and shutdown steps of the logging module.
void InitKLog();
void DoneKLog();

}  // namespace env
