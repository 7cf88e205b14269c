// Control and command identifiers of the main window. Other programs (the
// test drivers, accessibility tools) find the controls by these numbers.
#pragma once
#include "rtl/Win.h"

namespace app {

// The main window: FindWindowW(L"TForm", kMainWindowTitle). The application's
// hidden window has the same title, so look for the form's class.
inline constexpr wchar_t kMainWindowTitle[] = L"Orvex Diagnostics";

enum TMainControlId : int {
    idFileList = 100,   // list view of the files to send (check boxes)
    idAddFiles = 101,   // "&Add files..."
    idAddFolder = 102,  // "Add f&older..."
    idRemove = 103,     // "&Remove"
    idRefresh = 104,    // "R&efresh"
    idDescription = 110,
    idContact = 111,
    idEndpoint = 112,    // static text: the server the files go to
    idProxy = 113,       // "&Proxy..."
    idProgress = 120,    // progress bar
    idStatus = 121,      // static text: progress, outcome or error message
    idAnswer = 122,      // read-only edit: the server's answer
    idSaveAnswer = 123,  // "Sa&ve answer..."
    idFilesLabel = 130,
    idDescriptionLabel = 131,
    idContactLabel = 132,
    idEndpointLabel = 133,
    idAnswerLabel = 134,
    idAddedFieldsLabel = 135,
    idAddedFields = 136,  // static text: what goes with the files besides what the user typed
    idSend = IDOK,        // "&Send" (Enter)
    idCancel = IDCANCEL   // "Cancel" (Esc), enabled while sending
};

// Menu commands (WM_COMMAND with lParam 0).
enum TMainCommandId : int {
    cmAddFiles = 1001,
    cmAddFolder = 1002,
    cmRefresh = 1003,
    cmSaveAnswer = 1004,
    cmExit = 1005,
    cmProxy = 1010,
    cmSend = 1011,
    cmAbout = 1020,
    cmSelfTestFirst = 1100  // + the trigger's index in app::SelfTests()
};

}  // namespace app
