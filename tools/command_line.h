#pragma once

// What the two tools share on the command line: options end at "--", and
// file names are printed so that each result stays on its one line.

#include <cstdio>
#include <string>

// `name` with backslashes and control characters escaped, C style: a newline
// in a file name must not split the line that reports on it.
inline std::string printableName(const std::string& name) {
    std::string text;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            text += "\\\\";
        } else if (c == '\n') {
            text += "\\n";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            text += escaped;
        } else {
            text += c;
        }
    }
    return text;
}

// Whether `arg`, met before any "--", is an option rather than a file: it
// starts with '-' and is not "-" alone.
inline bool isOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

inline bool isHelp(const std::string& arg) { return arg == "-h" || arg == "--help"; }

inline bool isVersion(const std::string& arg) { return arg == "--version"; }

// "TOOL VERSION", the line that --version prints.
inline void printVersion(const char* tool) { std::printf("%s %s\n", tool, KESTRIVANE_VERSION); }

// `status`, or 2 when standard output was not written whole (a full disk, a
// closed descriptor): a script that trusts the status must not take lost
// lines for lines that came.
inline int checkedExit(const char* tool, int status) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    std::fprintf(stderr, "%s: cannot write standard output\n", tool);
    return 2;
}
