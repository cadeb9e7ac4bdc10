#include "base/consolelog.h"

#include <algorithm>

namespace orv {

void CConsoleLog::Append(std::int32_t kindOfLine, std::string_view line, Time now) {
    if (count < kCapacity) {
        kind[static_cast<size_t>(count)] = kindOfLine;
        text[static_cast<size_t>(count)].assign(line);
        ++count;
    } else {
        std::move(text.begin() + 1, text.end(), text.begin());
        std::move(kind.begin() + 1, kind.end(), kind.begin());
        kind[kCapacity - 1] = kindOfLine;
        text[kCapacity - 1].assign(line);
    }
    lastChange = now;
    ++appended;
}

}  // namespace orv
