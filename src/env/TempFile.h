// A file of our own in the user's temporary folder, for data too large to
// keep in memory (a compressed copy of a log that is about to be sent).
// It is opened with delete-on-close: the system removes it when the last
// handle to it closes, after an error, a cancel or a crash of the process
// alike. Others may read it meanwhile if they open it sharing delete, as
// the upload engine does.
#pragma once
#include <string>

#include "rtl/ScopedHandle.h"

namespace env {

class TTempFile {
public:
    // Creates an empty file named by GetTempFileName with `prefix`; raises
    // rtl::EInOutError with the system's code when that fails.
    explicit TTempFile(const wchar_t* prefix = L"orv");
    TTempFile(TTempFile&&) = default;
    TTempFile& operator=(TTempFile&&) = default;

    const std::wstring& Path() const { return FPath; }
    // Open for reading and writing.
    HANDLE Handle() const { return FHandle.Get(); }

private:
    std::wstring FPath;
    rtl::ScopedFileHandle FHandle;
};

}  // namespace env
