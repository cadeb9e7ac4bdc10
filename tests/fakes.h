// Test doubles behind the platform seam: a clock the test sets, a prompter that records what it was
// asked and answers from a script, a sound player that records file names. Sockets are real: the
// poll loop delivers readiness on the test's thread.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/pollloop.h"

namespace orv::test {

class FakeClock : public IClock {
public:
    explicit FakeClock(Time start = 1'000'000) : now(start) {}
    Time Now() override { return now; }
    std::tm LocalTime(Time t) override {
        const std::time_t tt = static_cast<std::time_t>(t);
        std::tm out{};
        ::gmtime_r(&tt, &out);  // tests read local time as UTC
        return out;
    }
    void Advance(Time seconds) { now += seconds; }
    Time now;
};

class RecordingPrompter : public IPrompter {
public:
    void Message(const std::string& text) override {
        std::lock_guard lk(m_lock);
        messages.push_back(text);
    }
    bool AskYesNo(const std::string& question) override {
        std::lock_guard lk(m_lock);
        questions.push_back(question);
        if (yesNoAnswers.empty()) return false;
        const bool a = yesNoAnswers.front();
        yesNoAnswers.pop_front();
        return a;
    }
    std::optional<std::string> InputText(const std::string& prompt, const std::string& initial) override {
        std::lock_guard lk(m_lock);
        prompts.push_back(prompt);
        initials.push_back(initial);
        if (inputAnswers.empty()) return std::nullopt;
        auto a = inputAnswers.front();
        inputAnswers.pop_front();
        return a;
    }
    std::vector<std::string> Messages() {
        std::lock_guard lk(m_lock);
        return messages;
    }

    std::vector<std::string> messages, questions, prompts, initials;
    std::deque<bool> yesNoAnswers;
    std::deque<std::optional<std::string>> inputAnswers;

private:
    std::mutex m_lock;
};

class RecordingSound : public ISoundPlayer {
public:
    void Play(const std::string& fileName) override { played.push_back(fileName); }
    std::vector<std::string> played;
};

// One bundle per test.
struct TestPlatform {
    FakeClock clock;
    RecordingPrompter prompter;
    RecordingSound sound;
    CPollLoop loop;
    CPlatform platform{clock, prompter, sound, loop};
};

}  // namespace orv::test
