#include "monitors/halflife/teamtags.h"

#include <algorithm>
#include <deque>

#include "base/strutil.h"

namespace orv {

namespace {

// One detection: its own copy of the names and parameters, run at once on the calling thread.
struct TagJob {
    std::deque<std::string> names;
    size_t total = 0;
    unsigned minShare, maxShare, minMembers, maxTagLength, minTagLength;

    std::string Execute() {
        std::sort(names.begin(), names.end());
        total = names.size();
        std::string result;
        size_t length = maxTagLength;
        while (!names.empty()) {
            const std::string prefix = names.front().substr(0, length);
            size_t count = 1;
            for (size_t i = 1; i < names.size() && BeginsWith(names[i], prefix); ++i) ++count;
            const auto share = static_cast<unsigned>(static_cast<double>(count) * 100.0 / static_cast<double>(total));
            // A prefix shorter than the minimum tag length (a short or empty name) is never a tag: an empty
            // one would match every player.
            if (count >= minMembers && share >= minShare && share <= maxShare && prefix.size() >= minTagLength) {
                if (!result.empty()) result += ", ";
                result += prefix;
                while (!names.empty() && BeginsWith(names.front(), prefix)) names.pop_front();
                length = maxTagLength + 1;
            }
            if (length <= minTagLength) {
                if (!names.empty()) names.pop_front();
                length = maxTagLength + 1;
            }
            --length;
            if (names.size() <= 1) break;
        }
        return result;
    }
};

}  // namespace

void CTeamTagDetector::Run(const std::vector<std::string>& names, std::mutex& lock, std::string& output) const {
    if (names.size() < minPlayers) return;
    TagJob job{std::deque<std::string>(names.begin(), names.end()), 0, minShare, maxShare, minMembers,
               maxTagLength, minTagLength};
    const std::string result = job.Execute();
    std::lock_guard guard(lock);
    output = result;
}

}  // namespace orv
