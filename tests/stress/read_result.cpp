#include "stress/read_result.h"

#include "stress/text_format.h"

std::vector<jbyte> readArrayPattern(int length) {
    std::vector<jbyte> pattern(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) pattern[static_cast<size_t>(i)] = static_cast<jbyte>(i * 37 + 11);
    return pattern;
}

std::string checkReadResult(jint result, const std::vector<jbyte> &before, const std::vector<jbyte> &after) {
    if (result < -1 || result > static_cast<jint>(before.size())) {
        return formatText("usbReadInputPipe returned %d for an array of %zu", result, before.size());
    }
    if (after.size() != before.size()) return "the read array changed its length";
    for (size_t i = result < 0 ? 0 : static_cast<size_t>(result); i < before.size(); ++i) {
        if (after[i] == before[i]) continue;
        return formatText("usbReadInputPipe returned %d but changed array element %zu", result, i);
    }
    return "";
}
