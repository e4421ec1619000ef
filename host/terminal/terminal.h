// The menu and the dialog drawn in the terminal, and text fitted to columns.
//
// Room terminal/: may call os/ and platform/.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "frame/host_api.h"

// The chosen item (from 0), or -1 when the user left the menu.
int RunMenuOnTerminal(const std::string& title, const std::vector<std::string>& items);
int RunDialogOnTerminal(int width, int height, DialogItem* items, int count);
size_t TerminalTextWidth(const std::string& text);  // in columns
// The text cut or padded to exactly width columns.
std::string FitToWidth(const std::string& text, int width);
