#include "diagview/SendReport.h"

#include "rtl/Text.h"
#include "rtl/Win.h"

namespace diagview {

namespace {

std::wstring FolderOf(const std::wstring& path) {
    const size_t pos = path.find_last_of(L"\\/");
    return pos == std::wstring::npos ? std::wstring() : path.substr(0, pos + 1);
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsUtf8(const std::string& bytes) {
    return bytes.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                                static_cast<int>(bytes.size()), nullptr, 0) > 0;
}

}  // namespace

TReportSendContents ReportSendContents(const std::wstring& reportPath, const TCrashReport& report) {
    TReportSendContents contents;
    const std::wstring crashId = report.Value(L"CrashID");
    contents.Description = L"Crash report " + (crashId.empty() ? rtl::ExtractFileName(reportPath) : crashId);
    contents.Files.push_back(reportPath);

    // The Application key holds the program's file name; a path or an empty
    // value from a damaged report must not lead outside the report's folder.
    const std::wstring program = report.Value(L"Application");
    if (!program.empty() && program.find_first_of(L"\\/:") == std::wstring::npos) {
        const size_t dot = program.find_last_of(L'.');
        const std::wstring errorLog = FolderOf(reportPath) + program.substr(0, dot) + L".errlog";
        if (!program.substr(0, dot).empty() && IsFile(errorLog)) contents.Files.push_back(errorLog);
    }
    return contents;
}

std::wstring AnswerText(const std::string& body, size_t maxChars) {
    std::wstring decoded = IsUtf8(body) ? rtl::FromUtf8(body) : rtl::FromAnsi(body);
    const bool cut = decoded.size() > maxChars;
    if (cut) decoded.resize(maxChars);
    std::wstring text;
    text.reserve(decoded.size() + decoded.size() / 16);
    for (size_t i = 0; i < decoded.size(); ++i) {
        const wchar_t c = decoded[i];
        if (c == L'\n' && (i == 0 || decoded[i - 1] != L'\r'))
            text += L"\r\n";
        else
            text += c == L'\0' ? L' ' : c;
    }
    if (cut) text += L"\r\n[The answer is longer; only its beginning is shown.]";
    return text;
}

}  // namespace diagview
