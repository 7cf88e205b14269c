// Control identifiers of the crash report viewer's window. Test drivers and
// accessibility tools find the controls by these numbers (GetDlgItem).
#pragma once
#include "rtl/Win.h"

namespace diagview {

// The window's caption starts with this; " - <report file name>" follows.
inline constexpr wchar_t kViewerTitle[] = L"Crash Report Viewer";

enum TViewerControlId : int {
    idReportText = 200,  // read-only edit: the report, readably
    idAnswerLabel = 201,
    idAnswer = 202,       // read-only edit: the support server's answer
    idStatus = 203,       // static text: what sending is doing or how it ended
    idSend = 204,         // "&Send to support"
    idCancel = IDCANCEL,  // "Cancel" (Esc), enabled while sending
    idClose = 206,        // "Close"
    idFilesLabel = 207,
    idFiles = 208,  // read-only edit: the files that will be sent, with their sizes
    idDescriptionLabel = 209,
    idDescription = 210,  // what the user was doing
    idContactLabel = 211,
    idContact = 212  // how support can reach the user
};

}  // namespace diagview
