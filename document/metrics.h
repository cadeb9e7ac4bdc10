// The document as Prometheus text (exposition format 0.0.4): one family per figure, one sample per
// object or one for the document. A pure function over the document, so that the tick can build an
// immutable snapshot that the metrics server hands out from its own thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

class CCommonObject;
class COrvaneDoc;

// The content type of the text.
inline constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// Appends bytes from the network or a file as a label value: UTF-8 (Latin-1 when not valid UTF-8),
// with backslash, double quote and line feed escaped.
void AppendLabelValue(std::string& out, std::string_view bytes);

// "RTT 152.3 ms, mean 150.1 ms" for the panel and the view; empty while the object has no round trip.
std::string RoundTripText(const CCommonObject& object);

// Every family of the document and its objects. bytesSent: the UDP payload bytes sent so far.
std::string BuildMetricsText(const COrvaneDoc& doc, std::uint64_t bytesSent);

}  // namespace orv
