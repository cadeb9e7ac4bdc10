// The platform seam: the few services through which the domain reaches the desktop or the terminal.
// The window implements them with Qt, the headless front end with poll() and standard error,
// the tests with fakes. Nothing below ui/ knows which one it talks to.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>

namespace orv {

// Whole seconds since the epoch.
using Time = std::int64_t;

class IClock {
public:
    virtual ~IClock() = default;
    virtual Time Now() = 0;
    // Broken-down local time of t, for strftime-style names.
    virtual std::tm LocalTime(Time t) = 0;
};

// Modal messages and questions. Texts are the system's bytes; the implementation converts for display.
// May be called from a worker thread: the implementation shows it on the main thread while the caller waits.
class IPrompter {
public:
    virtual ~IPrompter() = default;
    virtual void Message(const std::string& text) = 0;
    virtual bool AskYesNo(const std::string& question) = 0;
    // A one-line text input; nullopt when the operator cancels.
    virtual std::optional<std::string> InputText(const std::string& prompt, const std::string& initial) = 0;
};

class ISoundPlayer {
public:
    virtual ~ISoundPlayer() = default;
    // Starts playing the named wave file and returns at once; a sound already playing is replaced.
    virtual void Play(const std::string& fileName) = 0;
};

// Delivers "this descriptor is readable" (and, while asked for, "writable") on the main thread.
class ISocketWatcher {
public:
    virtual ~ISocketWatcher() = default;
    virtual void Watch(int fd, std::function<void()> onReadable) = 0;
    // After Unwatch returns, no callback for fd (readable or writable) is ever called again.
    virtual void Unwatch(int fd) = 0;
    // Calls onWritable whenever fd can be written (a connect in progress has ended, or room came back
    // for data), until UnwatchWritable or Unwatch; independent of the readable callback.
    virtual void WatchWritable(int fd, std::function<void()> onWritable) = 0;
    virtual void UnwatchWritable(int fd) = 0;
};

// What the domain is handed at construction. Every member outlives the document.
struct CPlatform {
    IClock& clock;
    IPrompter& prompter;
    ISoundPlayer& sound;
    ISocketWatcher& sockets;
};

}  // namespace orv
