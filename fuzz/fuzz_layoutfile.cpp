// Feeds arbitrary bytes to the layout-file loader. Name resolution is off, so no input can make the
// process ask a name server; the output worker is stopped, so nothing is sent.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/document/document.h"
#include "core/pollloop.h"

namespace {
struct QuietPrompter : orv::IPrompter {
    void Message(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return false; }
    std::optional<std::string> InputText(const std::string&, const std::string&) override { return std::nullopt; }
};
struct QuietSound : orv::ISoundPlayer {
    void Play(const std::string&) override {}
};
struct Harness {
    orv::CSystemClock clock;
    QuietPrompter prompter;
    QuietSound sound;
    orv::CPollLoop loop;
    orv::CPlatform platform{clock, prompter, sound, loop};
    orv::COrvaneDoc doc{platform};
    Harness() {
        orv::CUdpSocket::AllowNameResolution(false);
        doc.output.Stop();
        doc.ftp.Stop();
        doc.New();
    }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    static Harness h;
    if (h.doc.LoadFromBytes(std::span<const std::uint8_t>(data, size))) {
        // A loaded layout saves and loads again to the same bytes.
        const std::string again = h.doc.SaveToBytes();
        if (!h.doc.LoadFromBytes(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(again.data()),
                                                               again.size())))
            __builtin_trap();
        if (h.doc.SaveToBytes() != again) __builtin_trap();
    }
    return 0;
}
