// printf-style formatting into a std::string, for failure messages.
#pragma once

#include <string>

std::string formatText(const char *format, ...) __attribute__((format(printf, 1, 2)));
