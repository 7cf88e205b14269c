// A minidump of the crashed process, written beside its crash report by the
// system's minidump writer (dbghelp's MiniDumpWriteDump): the exception
// record and processor context of the failing thread, every thread with its
// stack, and the module list. No other memory, so it stays small enough to
// send with the report.
#pragma once
#include <string>

#include "rtl/Win.h"

namespace crash {

struct TExceptionRecord;

// Writes the minidump of the running process to `path` (created or
// overwritten) for the exception `record`/`context` of the calling thread.
// On failure answers False with `error` saying why, and leaves no file behind.
bool WriteMinidump(const std::wstring& path, const TExceptionRecord& record, const CONTEXT& context, DWORD threadId,
                   std::wstring& error);

}  // namespace crash
