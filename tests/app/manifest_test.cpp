// Every executable the build makes carries the application manifest the
// loader reads (resource type 24, id 1): the Windows versions 7 to 11,
// common controls version 6 and, for GUI programs, per-monitor DPI
// awareness. The list of executables comes from the build
// (QF_EXECUTABLE_LIST names it). And the manifest does what it is for: the
// version query answers the system's real version.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestUtil.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Text.h"

namespace {

struct TExecutable {
    bool Gui = false;
    std::wstring Path;
};

// "gui|console <path>" per line; the paths are the build machine's.
std::vector<TExecutable> BuiltExecutables() {
    std::vector<TExecutable> list;
    wchar_t listPath[1024] = {};
    if (!GetEnvironmentVariableW(L"QF_EXECUTABLE_LIST", listPath, 1024)) return list;
    const std::string text = testutil::ReadFileBytes(listPath);
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        const size_t blank = line.find(' ');
        if (blank == std::string::npos) continue;
        std::wstring path = rtl::FromUtf8(line.substr(blank + 1));
        if (!path.empty() && path[0] == L'/') path = L"Z:" + path;  // Wine's drive for the Unix root
        list.push_back({line.substr(0, blank) == "gui", path});
    }
    return list;
}

std::string ManifestOf(const std::wstring& path) {
    rtl::ScopedLibrary image(
        LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!image) return {};
    HRSRC info = FindResourceW(image.Get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    HGLOBAL data = info ? LoadResource(image.Get(), info) : nullptr;
    const char* bytes = data ? static_cast<const char*>(LockResource(data)) : nullptr;
    return bytes ? std::string(bytes, SizeofResource(image.Get(), info)) : std::string();
}

TEST(Manifest, EveryExecutableDeclaresItsSystemsControlsAndDpiAwareness) {
    const std::vector<TExecutable> executables = BuiltExecutables();
    // The program, diagview, the console tools and every test program.
    ASSERT_GE(executables.size(), 15u) << "QF_EXECUTABLE_LIST names no list of the build's executables";
    struct Declaration {
        const char* text;
        const char* meaning;
    };
    const Declaration everywhere[] = {
        {"<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>", "Windows 7"},
        {"<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>", "Windows 8"},
        {"<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>", "Windows 8.1"},
        {"<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>", "Windows 10 and 11"},
        {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"", "common controls 6"},
    };
    int gui = 0;
    for (const TExecutable& exe : executables) {
        const std::string manifest = ManifestOf(exe.Path);
        ASSERT_FALSE(manifest.empty()) << "no manifest in " << rtl::ToAnsi(exe.Path);
        for (const Declaration& d : everywhere)
            EXPECT_NE(std::string::npos, manifest.find(d.text)) << d.meaning << " missing in " << rtl::ToAnsi(exe.Path);
        const bool perMonitor = manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>") != std::string::npos &&
                                manifest.find(">true/pm</dpiAware>") != std::string::npos;
        EXPECT_EQ(exe.Gui, perMonitor) << "DPI awareness of " << rtl::ToAnsi(exe.Path);
        gui += exe.Gui;
    }
    EXPECT_GE(gui, 2);  // the program and diagview at least
}

// Wine answers the version of the system it is set to pretend (here Windows
// 10, for this program only) exactly as Windows does: 6.2 build 9200 to a
// program whose manifest does not name Windows 8.1 or later.
TEST(Manifest, TheVersionQueryAnswersTheRealSystem) {
    if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
        GTEST_SKIP() << "the system's version is set in Wine's registry; here it is whatever runs the test";
    const std::wstring key = L"Software\\Wine\\AppDefaults\\manifest_tests.exe";
    rtl::ScopedRegKey settings;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                             settings.Receive(), nullptr));
    const wchar_t version[] = L"win10";
    RegSetValueExW(settings.Get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), sizeof(version));
    const DWORD answer = testutil::RunAndWait(L"\"" + testutil::ExeFolder() + L"manifest_tests.exe\" --child=version");
    RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    EXPECT_EQ(1000u, answer) << "major * 100 + minor";
}

int VersionChild(const std::string& scenario) {
    if (scenario != "version") return 2;
    OSVERSIONINFOW v{};
    v.dwOSVersionInfoSize = sizeof(v);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&v);
#pragma GCC diagnostic pop
    return static_cast<int>(v.dwMajorVersion * 100 + v.dwMinorVersion);
}

}  // namespace

int main(int argc, char** argv) { return testutil::TestMainWithChild(argc, argv, &VersionChild); }
