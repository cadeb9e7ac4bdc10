// Feeds arbitrary bytes to the layout-file loader. Name resolution is off, so no input can make the
// process ask a name server; the output worker is stopped, so nothing is sent. A refused file must have
// made no socket and said nothing; a loaded one keeps within the loader's bounds.
#include "document/document.h"
#include "fuzz/fuzz_env.h"

namespace {
struct Harness : orv::fuzz::FuzzPlatform {
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
    auto& h = orv::fuzz::Fresh<Harness>();
    using Doc = orv::COrvaneDoc;
    const size_t watched = h.loop.WatchedCount();
    if (!h.doc.LoadFromBytes(std::span(data, size))) {
        if (!h.prompter.messages.empty() || h.loop.WatchedCount() != watched) __builtin_trap();
        return 0;
    }
    const std::int32_t limit = h.doc.output.GetLimit();
    if (size > Doc::kMaxLayoutBytes || h.doc.objects.size() > Doc::kMaxLayoutObjects ||
        limit < Doc::kMinLayoutLimit || limit > Doc::kMaxLayoutLimit)
        __builtin_trap();
    // A loaded layout saves and loads again to the same bytes.
    const std::string again = h.doc.SaveToBytes();
    if (!h.doc.LoadFromBytes(std::span(reinterpret_cast<const std::uint8_t*>(again.data()), again.size())))
        __builtin_trap();
    if (h.doc.SaveToBytes() != again) __builtin_trap();
    return 0;
}
