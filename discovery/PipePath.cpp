#include "discovery/PipePath.h"

#include <string.h>

bool AppendPipeName(char *pszPath, int nSize, const char *pszPipeName) {
    size_t nLength = strnlen(pszPath, static_cast<size_t>(nSize));
    size_t nNameLength = strlen(pszPipeName);
    if (nLength + 1 + nNameLength + 1 > static_cast<size_t>(nSize)) return false;
    pszPath[nLength] = '\\';
    memcpy(pszPath + nLength + 1, pszPipeName, nNameLength + 1);
    return true;
}

bool InterfacePathFits(const char *pszPath, int nSize) {
    return strlen(pszPath) + PIPE_SUFFIX_ROOM <= static_cast<size_t>(nSize);
}
