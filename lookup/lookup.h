// Keyword lookup and topic display: the help request, from a keyword to the
// page opened in the host's viewer or editor.
#pragma once

// Looks keyword up in the topic index of helpPath (or of its companion index
// file), lets the user choose among several matches and displays the chosen
// page. Returns 1 when the request was dealt with, 0 when it failed.
int ShowHelpTopic(const char* helpPath, const char* keyword);

// Extracts pageName from helpPath into a new temporary directory and opens it
// in the host's viewer or editor. Returns 1 or 0.
int DisplayTopic(const char* helpPath, const char* keyword, const char* pageName);
