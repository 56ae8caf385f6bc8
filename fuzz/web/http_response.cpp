// The response side of the HTTP sender against a peer on loopback that
// plays the fuzzer's replies: status lines, headers, challenges, lengths,
// bodies, chunking, small delays, cut-offs, resets and hangs. Whatever comes
// back, Send and the body readers end, report consistent results, and never
// hand out more than the response allowed.
//
// Input: one option byte, then replies separated by the line "\n%%\n";
// each reply is three control bytes and the bytes to send:
//   option bits: 0 a user name is set, 1 a second request follows,
//                2 read with ReadData instead of ReadResponse,
//                3 Cancel between the requests
//   control[0]:  bits 0-1 chunking (0 whole, 1 1..16 bytes, 2 1..256 bytes,
//                3 as 2 with 0.1 ms before each piece), bit 2 keep the
//                connection for another request, bit 3 cut after
//                control[2] x 4 bytes, bit 4 reset, bits 5 and 6 both: hang
//   control[1]:  chunk size; control[2]: cut-off point
//
// The peer and its thread live as long as the process; each input is one
// play. Waits are kept short (pauses of 0.1 ms, a request time limit of
// 2 ms), since a hang or a short body costs an input the whole limit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "capture/DEVICE_INFO.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/web/ScriptedPeer.h"
#include "web/CHttpSender.h"

namespace {

constexpr size_t kMaxReplies = 4;
constexpr unsigned kPauseUs = 100;
constexpr uint32_t kRequestTimeLimitMs = 2;
constexpr std::string_view kSeparator = "\n%%\n";

std::vector<fuzzweb::Reply> ParseScript(std::string_view rest) {
    std::vector<fuzzweb::Reply> script;
    while (!rest.empty() && script.size() < kMaxReplies) {
        const size_t end = rest.find(kSeparator);
        std::string_view part = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + kSeparator.size());
        fuzzweb::Reply r;
        const auto control = static_cast<uint8_t>(part.size() > 0 ? part[0] : 0);
        const auto chunk = static_cast<uint8_t>(part.size() > 1 ? part[1] : 0);
        const auto cut = static_cast<uint8_t>(part.size() > 2 ? part[2] : 0);
        r.bytes = std::string(part.substr(std::min<size_t>(3, part.size())));
        switch (control & 3) {
        case 1:
            r.chunk = chunk % 16 + 1u;
            break;
        case 2:
            r.chunk = chunk + 1u;
            break;
        case 3:
            r.chunk = chunk + 1u;
            r.delayUs = kPauseUs;
            // At most 8 pauses a reply.
            r.chunk = std::max(r.chunk, r.bytes.size() / 8 + 1);
            break;
        default:
            break;
        }
        r.keepOpen = (control & 4) != 0;
        if (control & 8) r.cutAt = size_t{cut} * 4;
        r.reset = (control & 16) != 0;
        r.hang = (control & 96) == 96;
        script.push_back(std::move(r));
    }
    return script;
}

bool KnownError(uint32_t e) {
    switch (e) {
    case 0:
    case 12002:
    case 12004:
    case 12007:
    case 12017:
    case 12019:
    case 12029:
    case 12030:
    case 12150:
    case 12152:
    case 12175:
    case 12184:
    case 12190:
        return true;
    default:
        return false;
    }
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    return out;
}

// The body a plain response must be a prefix of: what follows its only
// head, when the reply holds one head, no chunking, and no line that starts
// with CR or LF before the blank line (a client ends the head there). The
// head is taken with the blank line's CR, so that a line ending in a bare LF
// just before it counts too: "OK\n\r\n" is already the end. A head with a
// NUL byte is refused by libcurl or, depending on how the bytes arrive, read
// with its end somewhere else, so its body is not known either.
bool PlainBody(const std::string& reply, std::string_view& body) {
    const size_t headEnd = reply.find("\r\n\r\n");
    if (headEnd == std::string::npos) return false;
    if (std::string_view(reply).substr(0, headEnd).find('\0') != std::string_view::npos) return false;
    const std::string head = Lower(std::string_view(reply).substr(0, headEnd + 1));
    if (head.find("\n\n") != std::string::npos || head.find("\n\r") != std::string::npos ||
        head.find("chunked") != std::string::npos || head.find("transfer-encoding") != std::string::npos ||
        head.find("encoding") != std::string::npos || reply.find("HTTP/", 1) != std::string::npos) {
        return false;
    }
    body = std::string_view(reply).substr(headEnd + 4);
    return true;
}

void CheckSend(fuzzweb::ScriptedPeer& peer, Web::CHttpSender& sender, bool ok, bool readData) {
    FUZZ_CHECK(KnownError(sender.LastError()));
    if (!ok) {
        FUZZ_CHECK(sender.StatusCode() == 0 && sender.ContentLength() == 0);
        std::vector<uint8_t> none;
        FUZZ_CHECK(sender.ReadData(none, 100, true) == 0 && none.empty());
        return;
    }
    const uint32_t status = sender.StatusCode();
    FUZZ_CHECK(status >= 200 && status <= 999);
    if (status == 204) FUZZ_CHECK(sender.ContentLength() == 0);
    const size_t answered = peer.Requests();
    FUZZ_CHECK(answered >= 1);

    std::vector<uint8_t> body;
    (void)sender.QueryDataAvailable();
    if (readData) {
        for (int i = 0; i < 64; ++i) {
            if (sender.ReadData(body, 1 + 997 * (i % 3), false) == 0) break;
        }
    } else {
        FUZZ_CHECK(sender.ReadResponse(body) == body.size());
        const uint32_t limit = sender.ContentLength() != 0 ? sender.ContentLength() : 0x100000;
        FUZZ_CHECK(body.size() <= limit && body.size() <= 0x100000);
        // A length over the limit is refused before a byte is read.
        if (sender.ContentLength() > 0x100000) FUZZ_CHECK(sender.ReadFailure() == Web::ErrorAnswerTooLarge);
        if (sender.ReadFailure() == Web::ErrorAnswerTooLarge) FUZZ_CHECK(body.empty());
    }
    FUZZ_CHECK(KnownError(sender.LastError()));
    const fuzzweb::Reply* reply = peer.ReplyAt(answered - 1);
    std::string_view expected;
    if (status != 401 && reply != nullptr && PlainBody(reply->bytes, expected)) {
        const std::string_view got(reinterpret_cast<const char*>(body.data()), body.size());
        FUZZ_CHECK(got.size() <= expected.size() && expected.substr(0, got.size()) == got);
    }
}

}  // namespace

// Each input builds and frees a libcurl handle with its buffers; with the
// default 256 MiB quarantine every one of them lands on fresh pages, which
// took half the time. A few MiB still hold several inputs' worth of frees.
// ASAN_OPTIONS given at run time still wins.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=8"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzzweb::ScriptedPeer peer;
    if (peer.Port() == 0 || size == 0) return 0;
    const uint8_t options = data[0];
    peer.Play(ParseScript(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1)));
    {
        kestrel::DEVICE_INFO device;
        device.address = "127.0.0.1";
        device.port = peer.Port();
        device.requestTimeLimitMs = kRequestTimeLimitMs;
        if (options & 1) {
            device.userName = "user";
            device.password = "secret";
        }
        Web::CHttpSender sender(device);
        const int requests = (options & 2) ? 2 : 1;
        for (int i = 0; i < requests; ++i) {
            const bool ok = sender.Send(Web::HttpRequest("GET", "/command/inquiry.cgi?inq=sensor"));
            CheckSend(peer, sender, ok, (options & 4) != 0);
            if (options & 8) {
                sender.Cancel();
                sender.ResetCancel();  // as a restart would
            }
        }
    }
    peer.Finish();
    return 0;
}
