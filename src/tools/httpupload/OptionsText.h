// httpupload's command line read from its words, without the console or the
// operating system: the words are UTF-16 code units in any string type of
// them (std::wstring in httpupload, std::u16string where the build machine
// fuzzes the parser).
//
// Numbers are read and characters classified by the C runtime's wide
// character functions (wcstoul, wcstol, iswdigit, iswspace, iswalnum), as
// the tool always did: on Windows they take the digits of other scripts too
// ("--retry ３" is 3) and letters of every script in a content type; the
// build machine's C locale takes ASCII only.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace httpupload {

// What --help prints.
extern const char kHelp[];

template <class S>
struct TBasicOptions {
    S Url;
    std::vector<std::pair<S, S>> Fields;  // name (not empty, no '='), value
    struct TFile {
        S Field, Path;  // Field not empty, no '='
        S Type;         // empty: application/octet-stream
    };
    std::vector<TFile> Files;
    S ProxyHost, ProxyUser, ProxyPassword, Output;
    uint16_t ProxyPort = 0;        // 1..65535 with ProxyHost, 0 without
    uint32_t ConnectTimeout = 30;  // seconds, 1..86400
    uint32_t MaxTime = 0;          // seconds, 1..86400; 0: no bound
    uint32_t Retries = 0;          // 0..10
    bool NoUI = false, Headers = false, Help = false, Fail = false;
};

// Where --proxy-password-env and --proxy-password-stdin find the password;
// each is asked when its option is read.
template <class S>
struct TPasswordSources {
    // The value of environment variable `name`; false when there is none
    // that can be a password (unset, empty or too long).
    bool (*Environment)(const S& name, S& value);
    // The first line of standard input, without its line break.
    S (*StdinLine)();
};

// "type/subtype" as content types are written: two tokens around one '/'.
template <class S>
bool LooksLikeContentType(const S& text);

// --file's FIELD=PATH[;TYPE]: the text after the last ';' is the content
// type when it looks like one, otherwise part of the path. False when the
// field name or the path is missing.
template <class S>
bool ParseFileOption(const S& value, typename TBasicOptions<S>::TFile& file);

// Reads the arguments after the program's name into `options`, in their
// order, and answers what is wrong with them (the tool prints it after
// "httpupload: "), empty when they are usable. The first fault ends the
// reading, so `options.Help` is set when --help came before it; the tool
// then prints the help text alone.
template <class S>
S ParseOptionWords(const std::vector<S>& args, TBasicOptions<S>& options, const TPasswordSources<S>& sources);

}  // namespace httpupload
