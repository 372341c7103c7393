// The process entry on POSIX hosts: Windows' start-up code calls WinMain with the command line
// after the program's name, and so does this.
#include <string>

#include "platform/win32.h"

int main(int argc, char** argv)
{
    std::string commandLine;
    for (int i = 1; i < argc; i++) {
        if (i > 1) {
            commandLine += ' ';
        }
        commandLine += argv[i];
    }
    return WinMain(GetModuleHandleW(NULL), NULL, commandLine.data(), SW_SHOWDEFAULT);
}
