#include "ftp/ftpengine.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace orv {

namespace {

std::once_flag g_curlInit;

// Plain ASCII tests: the names come from the layout file, never through the locale.
bool IsAsciiAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Bytes that would end or split an FTP command line.
bool HasControlBytes(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

// The host part of the address: a host name or dotted address as it is, an IPv6 address in brackets.
// Anything else (a user part, a path, a port, blanks) is refused, so the server name can only name a host.
std::string UrlHost(std::string_view server) {
    if (server.size() >= 2 && server.front() == '[' && server.back() == ']') server = server.substr(1, server.size() - 2);
    if (server.empty() || server.size() > 253) return {};
    if (server.find(':') != std::string_view::npos) {
        const bool ok = std::all_of(server.begin(), server.end(),
                                    [](char c) { return IsHexDigit(c) || c == ':' || c == '.'; });
        return ok ? "[" + std::string(server) + "]" : std::string();
    }
    const bool ok = std::all_of(server.begin(), server.end(),
                                [](char c) { return IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_'; });
    if (!ok || server.front() == '.' || server.front() == '-') return {};
    return std::string(server);
}

std::string PercentEncode(std::string_view s) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size() * 3);
    for (char c : s) {
        if (IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            const auto u = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0x0F];
        }
    }
    return out;
}

// What the transfer reads from: the job's bytes, or a local file.
struct Source {
    std::string_view bytes;
    std::size_t offset = 0;
    int fd = -1;
    int readErrno = 0;
};

size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
    auto* src = static_cast<Source*>(user);
    const std::size_t room = size * count;
    if (src->fd >= 0) {
        for (;;) {
            const ssize_t got = ::read(src->fd, buffer, std::min(room, CFtpEngine::kFileBlock));
            if (got >= 0) return static_cast<size_t>(got);
            if (errno == EINTR) continue;
            src->readErrno = errno;
            return CURL_READFUNC_ABORT;
        }
    }
    const std::size_t take = std::min(room, src->bytes.size() - src->offset);
    std::memcpy(buffer, src->bytes.data() + src->offset, take);
    src->offset += take;
    return take;
}

// What the server's replies told: the login is accepted by a 230 reply (to the greeting, PASS or ACCT)
// or by any 2xx reply to USER or PASS, as libcurl takes them; a later failure then concerns the remote
// file rather than the connection. The last refusal (4xx or 5xx) completes libcurl's text.
struct Replies {
    bool loggedIn = false;
    bool loginCommand = false;  // the last command sent was USER or PASS
    std::string lastRefusal;
};

int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    auto* replies = static_cast<Replies*>(user);
    if (type == CURLINFO_HEADER_OUT) {
        const std::string_view sent(data, size);
        replies->loginCommand = sent.substr(0, 5) == "USER " || sent.substr(0, 5) == "PASS ";
        return 0;
    }
    if (type != CURLINFO_HEADER_IN) return 0;
    const std::string_view text(data, size);
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        std::string_view line = text.substr(pos, eol - pos);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
        const bool final = line.size() == 3 || (line.size() > 3 && line[3] == ' ');
        if (line.size() >= 3 && line.substr(0, 3) == "230") replies->loggedIn = true;
        if (final && replies->loginCommand && line[0] == '2') replies->loggedIn = true;
        if (final && (line[0] == '4' || line[0] == '5') && !HasControlBytes(line))
            replies->lastRefusal = std::string(line.substr(0, 200));
        pos = eol + 1;
    }
    return 0;
}

// Called by libcurl about once a second even while nothing moves: a non-zero answer ends the transfer.
int OnProgress(void* shutdown, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(shutdown)->load() ? 1 : 0;
}

class LocalFile {
public:
    explicit LocalFile(int fd) : m_fd(fd) {}
    ~LocalFile() {
        if (m_fd >= 0) ::close(m_fd);
    }
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

// Opens a regular file (or a pipe) for reading; a directory or a name with a zero byte is refused.
int OpenLocal(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

CFtpEngine::CFtpEngine(IPrompter& prompter, FtpTimeouts timeouts) : m_prompter(prompter), m_timeouts(timeouts) {
    std::call_once(g_curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CFtpEngine::~CFtpEngine() { Shutdown(); }

void CFtpEngine::Start() {
    if (m_worker.joinable()) return;
    {
        std::lock_guard lk(m_lock);
        m_stopRequested = false;
        m_workerRunning = true;
    }
    m_shutdown = false;
    m_worker = std::thread(&CFtpEngine::WorkerLoop, this);
}

int CFtpEngine::AddJob(std::unique_ptr<FtpJob> job) { return Enqueue(std::move(job), false); }

int CFtpEngine::AddOrReplaceJob(std::unique_ptr<FtpJob> job) { return Enqueue(std::move(job), true); }

int CFtpEngine::Enqueue(std::unique_ptr<FtpJob> job, bool replaceWaiting) {
    if (!job) return 0;
    {
        std::lock_guard lk(m_lock);
        if (replaceWaiting) {
            for (auto& waiting : m_queue) {
                if (waiting->server == job->server && waiting->port == job->port &&
                    waiting->remotePath == job->remotePath) {
                    waiting = std::move(job);
                    return 1;  // the worker already knows of this place in the queue
                }
            }
        }
        m_queue.push_back(std::move(job));
    }
    m_wake.notify_all();
    return 1;
}

std::int32_t CFtpEngine::PendingCount() const {
    std::lock_guard lk(m_lock);
    return static_cast<std::int32_t>(m_queue.size()) + (m_busy ? 1 : 0);
}

std::uint64_t CFtpEngine::WakeUps() const {
    std::lock_guard lk(m_lock);
    return m_wakeUps;
}

void CFtpEngine::Stop() {
    {
        std::lock_guard lk(m_lock);
        m_stopRequested = true;
    }
    m_wake.notify_all();
    if (m_worker.joinable() && m_worker.get_id() != std::this_thread::get_id()) m_worker.join();
    std::deque<std::unique_ptr<FtpJob>> left;
    {
        std::lock_guard lk(m_lock);
        left.swap(m_queue);
    }
    // The jobs are freed here, outside the lock.
}

void CFtpEngine::Shutdown() {
    std::deque<std::unique_ptr<FtpJob>> dropped;
    {
        std::unique_lock lk(m_lock);
        m_stopRequested = true;
        m_wake.notify_all();
        m_wake.wait_for(lk, kShutdownGrace, [this] { return !m_workerRunning; });
        m_shutdown = true;
        dropped.swap(m_queue);
    }
    Stop();
}

void CFtpEngine::WorkerLoop() {
    std::unique_lock lk(m_lock);
    for (;;) {
        m_wake.wait(lk, [this] { return !m_queue.empty() || m_stopRequested; });
        // Queued work comes before a stop request: a stop takes effect once the queue is empty.
        if (m_queue.empty()) {
            m_workerRunning = false;
            m_wake.notify_all();  // Shutdown may be waiting for this
            return;
        }
        ++m_wakeUps;
        while (!m_queue.empty()) {
            m_busy = true;
            std::unique_ptr<FtpJob> job = std::move(m_queue.front());
            m_queue.pop_front();
            lk.unlock();
            ProcessJob(*job);
            job.reset();
            lk.lock();
        }
        m_busy = false;
    }
}

void CFtpEngine::Show(const std::string& text) {
    if (!m_shutdown) m_prompter.Message(text);  // nobody is there to read it any more
}

std::string CFtpEngine::JobUrl(const FtpJob& job) {
    const std::string host = UrlHost(job.server);
    if (host.empty()) return {};
    std::uint16_t port = static_cast<std::uint16_t>(job.port);
    if (port == 0) port = 21;
    return "ftp://" + host + ":" + std::to_string(port) + "/" + PercentEncode(job.remotePath);
}

bool CFtpEngine::ProcessJob(const FtpJob& job) {
    const std::string where = job.server + ":" + std::to_string(job.port);
    const std::string connectPrefix = "FTP Engine error with Job on server " + where + " :\n";
    const std::string writePrefix = "FTP Engine error with Job on server " + where + " (writting remote file):\n";

    // The local file is opened before anything is sent, so a missing file never replaces the remote one
    // with an empty file.
    LocalFile local(job.kind == 1 ? OpenLocal(job.content) : -1);
    Source source;
    if (job.kind == 1) {
        if (local.fd() < 0) {
            Show("Unable to open file " + job.content + ". FTP Upload canceled.");
            return false;
        }
        source.fd = local.fd();
    } else {
        source.bytes = job.content;
    }

    const std::string url = JobUrl(job);
    if (url.empty()) {
        Show(connectPrefix + "Invalid server name");
        return false;
    }
    if (HasControlBytes(job.user) || HasControlBytes(job.password)) {
        Show(connectPrefix + "Invalid character in the user name or password");
        return false;
    }
    if (HasControlBytes(job.remotePath)) {
        Show(writePrefix + "Invalid character in the remote file name");
        return false;
    }

    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) {
        Show(connectPrefix + "Unable to start an FTP session");
        return false;
    }
    CURL* h = curl.get();
    char errorText[CURL_ERROR_SIZE] = {};
    Replies replies;

    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
#else
    curl_easy_setopt(h, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_FTP));
#endif
    curl_easy_setopt(h, CURLOPT_PROXY, "");  // straight to the job's server, whatever the environment says
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);  // feeds OnDebug; nothing is printed
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &OnDebug);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, &replies);
    if (!job.user.empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, job.user.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, job.password.c_str());
    }
    // Passive mode with PASV (EPSV on IPv6, where PASV cannot work); the data connection goes to the
    // address of the control connection, never to one named in the server's reply.
    curl_easy_setopt(h, CURLOPT_FTP_USE_EPSV, 0L);
    curl_easy_setopt(h, CURLOPT_FTP_SKIP_PASV_IP, 1L);
    // The remote name is sent whole in STOR, as given.
    curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L);  // TYPE I
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &OnRead);
    curl_easy_setopt(h, CURLOPT_READDATA, &source);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, m_timeouts.connectMilliseconds);
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, m_timeouts.responseSeconds);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, m_timeouts.lowSpeedBytes);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, m_timeouts.lowSpeedSeconds);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, m_timeouts.transferSeconds);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &m_shutdown);

    const CURLcode rc = curl_easy_perform(h);
    if (rc == CURLE_OK) return true;

    std::string text = errorText[0] ? std::string(errorText) : std::string(curl_easy_strerror(rc));
    if (source.readErrno != 0)
        text = "Unable to read file " + job.content + ": " + std::strerror(source.readErrno);
    else if (!replies.lastRefusal.empty())
        text += "\n" + replies.lastRefusal;  // the server's own words
    Show((replies.loggedIn ? writePrefix : connectPrefix) + text);
    return replies.loggedIn;
}

}  // namespace orv
