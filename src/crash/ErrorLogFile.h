// Opening the error log for one appended entry. The log is held open without
// sharing while an entry is written, so that entries of two writers never
// interleave; a writer that meets the file held by another (a second thread
// or process crashing at the same moment) waits a little instead of dropping
// its entry.
#pragma once
#include <string>

#include "rtl/ScopedHandle.h"

namespace crash {

// How long a writer keeps trying while another one holds the log.
constexpr unsigned cErrorLogOpenWaitMs = 1000;

// Opens (creating when missing) `path` for reading and writing without
// sharing, positioned at its end. While the file is held by another writer
// the open is retried for at most `maxWaitMs`; any other failure gives up at
// once. Answers an invalid handle when the file could not be opened.
rtl::ScopedFileHandle OpenErrorLogForAppend(const std::wstring& path, unsigned maxWaitMs = cErrorLogOpenWaitMs);

}  // namespace crash
