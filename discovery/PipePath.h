// Pipe paths: a device interface path, one backslash and the pipe name, composed in a caller's buffer.
#pragma once

const char PIPE_NAME_READ[] = "PIPE00";
const char PIPE_NAME_WRITE[] = "PIPE01";

// Room a pipe path needs beyond the interface path: the backslash, six characters of pipe name, the terminator.
const int PIPE_SUFFIX_ROOM = 1 + 6 + 1;

// Appends "\<pipe name>" to the path in the buffer. False, with the buffer unchanged, when it would not fit.
bool AppendPipeName(char *pszPath, int nSize, const char *pszPipeName);

// True when an interface path leaves room in a buffer of nSize bytes for a pipe name to be appended later.
bool InterfacePathFits(const char *pszPath, int nSize);
