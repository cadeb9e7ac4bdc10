// The platform seam implemented with Qt: the system clock, modal message boxes (shown on the main thread
// even when a worker asks), Qt Multimedia for wave files, and socket notifiers on the main thread.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QSoundEffect>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

#include "base/platform.h"
#include "base/pollloop.h"

class QWidget;

namespace orv {

class CQtPrompter : public QObject, public IPrompter {
    Q_OBJECT
public:
    explicit CQtPrompter(QWidget* parentWindow = nullptr) : m_parent(parentWindow) {}
    void SetParentWindow(QWidget* w) { m_parent = w; }
    // Once the event loop has ended, a worker's message cannot be shown on the main thread (which may be
    // waiting for that very worker): from then on workers' messages go to standard error and their
    // questions are answered No, instead of waiting for ever; a call already waiting returns at once.
    void Detach();
    // Workers' calls waiting for the main thread.
    int WaitingCalls() const;
    void Message(const std::string& text) override;
    bool AskYesNo(const std::string& question) override;
    std::optional<std::string> InputText(const std::string& prompt, const std::string& initial) override;

private:
    // Runs f on the main thread, waiting for it; false when that cannot be done any more.
    template <class F>
    bool OnMainThread(F f);

    QWidget* m_parent;
    mutable std::mutex m_lock;  // guards the calls' states, the count and the detached flag
    std::condition_variable m_callEnded;
    bool m_detached = false;
    int m_waiting = 0;
};

class CQtSoundPlayer : public ISoundPlayer {
public:
    void Play(const std::string& fileName) override;

private:
    std::unique_ptr<QSoundEffect> m_effect;
};

class CQtSocketWatcher : public ISocketWatcher {
public:
    void Watch(int fd, std::function<void()> onReadable) override;
    void Unwatch(int fd) override;
    void WatchWritable(int fd, std::function<void()> onWritable) override;
    void UnwatchWritable(int fd) override;

private:
    using Notifiers = std::map<int, std::unique_ptr<QSocketNotifier>>;
    static void Add(Notifiers& notifiers, int fd, QSocketNotifier::Type type, std::function<void()> callback);
    static void Remove(Notifiers& notifiers, int fd);
    Notifiers m_notifiers;
    Notifiers m_writeNotifiers;
};

// Everything the document needs from the platform, made with Qt.
struct CQtPlatformServices {
    CSystemClock clock;
    CQtPrompter prompter;
    CQtSoundPlayer sound;
    CQtSocketWatcher sockets;
    CPlatform platform{clock, prompter, sound, sockets};
};

// Bytes from the domain for display: UTF-8 when valid, Latin-1 otherwise.
QString ToQString(const std::string& bytes);
std::string FromQString(const QString& text);

}  // namespace orv
