#include "ui/qtplatform.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QThread>
#include <QUrl>
#include <cstdio>

#include "base/strutil.h"
#include "ui/dialogs/inputbox.h"

namespace orv {

QString ToQString(const std::string& bytes) { return QString::fromStdString(ToDisplayUtf8(bytes)); }

std::string FromQString(const QString& text) { return text.toStdString(); }

template <class F>
bool CQtPrompter::OnMainThread(F f) {
    if (QThread::currentThread() == thread()) {
        f();
        return true;
    }
    // Posted, not blocking: the worker waits until the main thread has run f, or until Detach when the
    // main thread never will. A call given up is marked so, and does nothing if it is ever served.
    struct Call {
        bool running = false, done = false, abandoned = false;
    };
    auto call = std::make_shared<Call>();
    {
        std::lock_guard lk(m_lock);
        if (m_detached) return false;
        ++m_waiting;
    }
    QMetaObject::invokeMethod(
        this,
        [this, call, &f] {
            {
                std::lock_guard lk(m_lock);
                if (call->abandoned) return;
                call->running = true;
            }
            f();
            std::lock_guard lk(m_lock);
            call->done = true;
            m_callEnded.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lk(m_lock);
    m_callEnded.wait(lk, [&] { return call->done || (m_detached && !call->running); });
    --m_waiting;
    call->abandoned = !call->done;
    return call->done;
}

void CQtPrompter::Detach() {
    std::lock_guard lk(m_lock);
    m_detached = true;
    m_callEnded.notify_all();
}

int CQtPrompter::WaitingCalls() const {
    std::lock_guard lk(m_lock);
    return m_waiting;
}

void CQtPrompter::Message(const std::string& text) {
    if (!OnMainThread([&] { QMessageBox::information(m_parent, QApplication::applicationName(), ToQString(text)); }))
        std::fprintf(stderr, "%s\n", text.c_str());
}

bool CQtPrompter::AskYesNo(const std::string& question) {
    bool yes = false;
    OnMainThread([&] {
        yes = QMessageBox::question(m_parent, QStringLiteral("Orvane"), ToQString(question),
                                    QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    });
    return yes;
}

std::optional<std::string> CQtPrompter::InputText(const std::string& prompt, const std::string& initial) {
    std::optional<std::string> result;
    OnMainThread([&] {
        if (auto text = CInputBox::Ask(m_parent, ToQString(prompt), ToQString(initial))) result = FromQString(*text);
    });
    return result;
}

void CQtSoundPlayer::Play(const std::string& fileName) {
    // Looked up by its plain name, relative to the current directory.
    if (!m_effect) m_effect = std::make_unique<QSoundEffect>();
    m_effect->stop();
    m_effect->setSource(QUrl::fromLocalFile(QDir::current().absoluteFilePath(QString::fromStdString(fileName))));
    m_effect->play();
}

void CQtSocketWatcher::Add(Notifiers& notifiers, int fd, QSocketNotifier::Type type, std::function<void()> callback) {
    Remove(notifiers, fd);
    auto notifier = std::make_unique<QSocketNotifier>(fd, type);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [cb = std::move(callback)] { cb(); });
    notifiers[fd] = std::move(notifier);
}

void CQtSocketWatcher::Remove(Notifiers& notifiers, int fd) {
    auto it = notifiers.find(fd);
    if (it == notifiers.end()) return;
    it->second->setEnabled(false);
    // The notifier may be the one whose signal is running: delete it once control is back in the loop.
    it->second.release()->deleteLater();
    notifiers.erase(it);
}

void CQtSocketWatcher::Watch(int fd, std::function<void()> onReadable) {
    Add(m_notifiers, fd, QSocketNotifier::Read, std::move(onReadable));
}

void CQtSocketWatcher::Unwatch(int fd) {
    Remove(m_notifiers, fd);
    Remove(m_writeNotifiers, fd);
}

void CQtSocketWatcher::WatchWritable(int fd, std::function<void()> onWritable) {
    Add(m_writeNotifiers, fd, QSocketNotifier::Write, std::move(onWritable));
}

void CQtSocketWatcher::UnwatchWritable(int fd) { Remove(m_writeNotifiers, fd); }

}  // namespace orv
