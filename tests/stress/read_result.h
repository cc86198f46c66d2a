// What every read must respect, whatever else happens: a result between -1 and the array's length, and no array
// element changed beyond the bytes it reports.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

// A fresh array's contents for a read: a pattern that shows which elements the read wrote.
std::vector<jbyte> readArrayPattern(int length);
// Empty when the read kept to the rules; otherwise what it broke.
std::string checkReadResult(jint result, const std::vector<jbyte> &before, const std::vector<jbyte> &after);
