// Reading system.txt and errors.txt in tests. Other test processes write to
// the same Documents\Pixwick\ folder at the same time, so tests find their own
// lines by a token that is unique to the call.
#pragma once
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

#include "util.h"

inline std::string log_path(const char *file_name)
{
    char folder[MAX_PATH] = "";
    documents_pixwick_dir(folder, sizeof folder);
    return std::string(folder) + file_name;
}

inline std::string read_binary_file(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline std::string unique_token(const char *tag)
{
    static int serial;
    return std::string(tag) + "_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount()) +
           "_" + std::to_string(++serial);
}

// The system's own text for an error code, as FormatMessageA gives it; empty
// when it has none.
inline std::string system_message(DWORD code)
{
    char *text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, (LPSTR)&text, 0, nullptr);
    std::string result = text ? text : "";
    LocalFree(text);
    return result;
}

// The whole line of a log file that holds token, without its CR LF; empty
// when there is none.
inline std::string log_line_with(const char *file_name, const std::string &token)
{
    std::string text = read_binary_file(log_path(file_name));
    size_t at = text.find(token);
    if (at == std::string::npos)
        return "";
    size_t start = text.rfind('\n', at) + 1; // npos + 1 is 0
    return text.substr(start, text.find("\r\n", at) - start);
}

inline int count_occurrences(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}
