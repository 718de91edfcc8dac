// How the adapter cuts the byte stream into commands: by their syntax, since
// commands carry no terminator.
#include "SimulatedAdapter.h"

#include <cctype>
#include <cstring>

namespace {

// Syntax of each command by its first byte: 'h' a hexadecimal digit, 'd' a
// decimal digit, '*' any byte, anything else itself.
const char* syntaxOf(char first) {
    switch (first) {
    case 'R':
        return "R:hhhh:hhhhhhhh";
    case 'W':
        return "W:hhhh:hhhhhhhh:hhhhhhhh";
    case '?':
        return "?dd:ddd";
    case 'D':
        return "Dddd";
    case 'G':
        return "Gd:d";
    case 'V':
    case 'M':
    case 'C':
        return "**";
    case 'v':
    case 'r':
    case 'o':
    case 'n':
    case 'f':
    case 'e':
    case 'm':
    case 'j':
    case 'x':
    case 'd':
        return "*";
    default:
        return nullptr;
    }
}

bool fits(char pattern, char byte) {
    switch (pattern) {
    case 'h':
        return std::isxdigit(static_cast<unsigned char>(byte));
    case 'd':
        return std::isdigit(static_cast<unsigned char>(byte));
    case '*':
        return true;
    default:
        return pattern == byte;
    }
}

} // namespace

qsizetype SimulatedAdapter::CommandLength(const QByteArray& buffer) {
    if (buffer.isEmpty())
        return 0;
    const char* syntax = syntaxOf(buffer[0]);
    if (!syntax)
        return 1;
    const qsizetype length = static_cast<qsizetype>(std::strlen(syntax));
    for (qsizetype i = 1; i < length; ++i) {
        if (i >= buffer.size())
            return 0;
        if (!fits(syntax[i], buffer[i]))
            return i;
    }
    return length;
}
