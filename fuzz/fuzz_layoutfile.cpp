// Feeds arbitrary bytes to the layout-file loader. Name resolution is off, so no input can make the
// process ask a name server; the output worker is stopped, so nothing is sent.
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
    if (h.doc.LoadFromBytes(std::span(data, size))) {
        // A loaded layout saves and loads again to the same bytes.
        const std::string again = h.doc.SaveToBytes();
        if (!h.doc.LoadFromBytes(std::span(reinterpret_cast<const std::uint8_t*>(again.data()), again.size())))
            __builtin_trap();
        if (h.doc.SaveToBytes() != again) __builtin_trap();
    }
    return 0;
}
