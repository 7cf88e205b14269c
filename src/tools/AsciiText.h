// ASCII text as a string of any character type, one code unit per
// character: the option names and messages of the tools' platform-free
// command-line readers, which work on UTF-16 under Windows and on the build
// machine alike.
#pragma once

template <class S>
S AsciiText(const char* text) {
    S s;
    while (*text) s += static_cast<typename S::value_type>(*text++);
    return s;
}
