// The capture tests' view of the diagnostic log: its lines without the time stamps.
#pragma once
#include <string>

// "hh:mm:ss.mmm  text\r\n" lines -> "text\n" lines.
inline std::string Untimed(const std::string& log)
{
    std::string out;
    size_t at = 0;
    while (at < log.size()) {
        size_t end = log.find("\r\n", at);
        if (end == std::string::npos)
            end = log.size();
        if (end - at > 14)
            out += log.substr(at + 14, end - at - 14);
        out += '\n';
        at = end + 2;
    }
    return out;
}
