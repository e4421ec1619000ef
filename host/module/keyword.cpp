// The user's keyword as the module takes it: in the OEM code page.
#include <string>
#include <vector>

#include "host/host.h"
#include "host/module/module.h"
#include "platform/terminal_text.h"

bool KeywordInOem(const std::string& keyword, const char* what, std::string& oem)
{
    std::vector<char> buffer(keyword.size() * 2 + 16);
    if (!TerminalToOem(keyword.c_str(), buffer.data(), buffer.size())) {
        Complain(std::string("the ") + what + " '" + keyword +
                 "' cannot be converted to the help file's code page");
        return false;
    }
    oem = buffer.data();
    return true;
}
