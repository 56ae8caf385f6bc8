#include "tools/camsim/CControlCommand.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "tools/camsim/CCamera.h"
#include "tools/camsim/CQueryString.h"

namespace camsim {
namespace {

bool ParseFraction(const std::string& text, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == nullptr || *end != '\0' || !(v >= 0.0 && v <= 1.0)) return false;
    *value = v;
    return true;
}

std::string StatsText(const CCamera& camera) {
    const StreamStats s = camera.GetStreamStats();
    std::string t = camera.Summary() + "\n";
    t += "stream " + std::string(s.active ? "active" : "inactive") + " to " + s.destination + " ssrc " +
         std::to_string(s.ssrc) + " next sequence " + std::to_string(s.nextSequence) + " pictures " +
         std::to_string(s.pictures) + " packets " + std::to_string(s.packets) + " dropped " +
         std::to_string(s.dropped) + " duplicated " + std::to_string(s.duplicated) + " reordered " +
         std::to_string(s.reordered) + " sender reports " + std::to_string(s.senderReports) + " receiver reports " +
         std::to_string(s.receiverReports) + " bye " + std::to_string(s.byes);
    if (!s.stopReason.empty()) t += " stop reason " + s.stopReason;
    if (s.lastReport) {
        const ReceiverReport& r = *s.lastReport;
        t += "\nlast receiver report: ssrc " + std::to_string(r.reporterSsrc) + " extended highest sequence " +
             std::to_string(r.extendedHighestSeq) + " lsr " + std::to_string(r.lsr) + " dlsr " + std::to_string(r.dlsr);
    }
    return t;
}

}  // namespace

const char* CControlCommand::Help() {
    return "drop=F dup=F reorder=F cut=N pause=1|0 stop=1 seqjump=N newssrc=random|N longdgram=N oversize=1|N "
           "(N<=16777216)\n"
           "status=CODE[:PATTERN] hang=PATTERN close=PATTERN times=N release=1 clearhttp=1 reset=1\n"
           "sensor=N:0|1 stats=1 help=1   (join parts with '&'; percent-encode '&', '=' in patterns)";
}

bool CControlCommand::IsLoopbackPeer(std::string_view address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.empty() || address.size() >= sizeof text) return false;
    std::memcpy(text, address.data(), address.size());
    in_addr v4{};
    if (inet_pton(AF_INET, text, &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, text, &v6) != 1) return false;
    if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
}

bool CControlCommand::Apply(CCamera& camera, std::string_view command, std::string* answer) {
    std::string out;
    auto fail = [&](const std::string& why) {
        out += "error: " + why + "\n";
        *answer = out;
        return false;
    };
    if (command.size() > kMaxCommand) return fail("command longer than " + std::to_string(kMaxCommand) + " bytes");
    const auto parts = CQueryString::Parse(command);
    if (parts.empty()) return fail("empty command; try help=1");
    int times = -1;
    for (const auto& p : parts)
        if (p.name == "times") {
            uint32_t n = 0;
            if (!CQueryString::ParseUnsigned(p.value, &n) || n == 0 || n > kMaxTimes)
                return fail("times wants 1.." + std::to_string(kMaxTimes));
            times = static_cast<int>(n);
        }
    // HTTP rules are checked before any part runs, so a refused command
    // leaves no rule behind.
    size_t newRules = 0;
    for (const auto& p : parts) {
        if (p.name != "status" && p.name != "hang" && p.name != "close") continue;
        ++newRules;
        const size_t colon = p.value.find(':');
        const size_t pattern = p.name != "status"           ? p.value.size()
                               : colon == std::string::npos ? 0
                                                            : p.value.size() - colon - 1;
        if (pattern > kMaxPattern) return fail("a PATTERN has at most " + std::to_string(kMaxPattern) + " bytes");
    }
    if (newRules > 0 && camera.HttpFaults().size() + newRules > kMaxHttpRules)
        return fail("at most " + std::to_string(kMaxHttpRules) + " HTTP rules at once; clearhttp=1 first");
    for (const auto& p : parts) {
        const std::string& v = p.value;
        uint32_t n = 0;
        if (p.name == "times") {
            continue;
        } else if (p.name == "drop" || p.name == "dup" || p.name == "reorder") {
            double f = 0;
            if (!ParseFraction(v, &f)) return fail(p.name + " wants a fraction 0..1");
            RtpFaults rtp = camera.GetRtpFaults();
            (p.name == "drop" ? rtp.dropFraction : p.name == "dup" ? rtp.duplicateFraction : rtp.reorderFraction) = f;
            camera.SetRtpFaults(rtp);
        } else if (p.name == "cut") {
            if (!CQueryString::ParseUnsigned(v, &n) || n > 65535) return fail("cut wants 0..65535");
            RtpFaults rtp = camera.GetRtpFaults();
            rtp.cutBytes = n;
            camera.SetRtpFaults(rtp);
        } else if (p.name == "pause") {
            if (v != "0" && v != "1") return fail("pause wants 0 or 1");
            camera.SetPaused(v == "1");
        } else if (p.name == "stop") {
            camera.StopStream("stopped");
        } else if (p.name == "seqjump") {
            if (!CQueryString::ParseUnsigned(v, &n) || n == 0 || n > 65535) return fail("seqjump wants 1..65535");
            camera.JumpSequence(n);
        } else if (p.name == "newssrc") {
            if (v == "random" || v.empty()) {
                camera.ChangeSsrc();
            } else if (CQueryString::ParseUnsigned(v, &n)) {
                camera.ChangeSsrc(n);
            } else {
                return fail("newssrc wants random or a number");
            }
        } else if (p.name == "longdgram") {
            if (!CQueryString::ParseUnsigned(v, &n) || n <= 12 || n > 65507) return fail("longdgram wants 13..65507");
            camera.SendLongDatagram(n);
        } else if (p.name == "oversize") {
            if (!CQueryString::ParseUnsigned(v, &n) || n == 0 || n > kMaxOversize)
                return fail("oversize wants 1 or a size up to " + std::to_string(kMaxOversize));
            if (!camera.SendOversizedPicture(n == 1 ? 786432 + 65536 : n)) return fail("no pictures to pad");
        } else if (p.name == "status") {
            const size_t colon = v.find(':');
            if (!CQueryString::ParseUnsigned(v.substr(0, colon), &n) || n < 100 || n > 599)
                return fail("status wants CODE[:PATTERN]");
            HttpFaultRule r;
            r.action = HttpFaultAction::Status;
            r.status = static_cast<int>(n);
            r.pattern = colon == std::string::npos ? std::string() : v.substr(colon + 1);
            r.remaining = times;
            camera.AddHttpFault(r);
        } else if (p.name == "hang" || p.name == "close") {
            HttpFaultRule r;
            r.action = p.name == "hang" ? HttpFaultAction::Hang : HttpFaultAction::Close;
            r.pattern = v;
            r.remaining = times;
            camera.AddHttpFault(r);
        } else if (p.name == "release") {
            camera.ReleaseHangs();
        } else if (p.name == "clearhttp") {
            camera.ClearHttpFaults();
        } else if (p.name == "reset") {
            camera.ResetFaults();
        } else if (p.name == "sensor") {
            const size_t colon = v.find(':');
            if (colon == std::string::npos || !CQueryString::ParseUnsigned(v.substr(0, colon), &n) ||
                (v.substr(colon + 1) != "0" && v.substr(colon + 1) != "1") ||
                !camera.SetSensor(n, v.substr(colon + 1) == "1"))
                return fail("sensor wants N:0|1 with N from 1 to " + std::to_string(camera.SensorCount()));
        } else if (p.name == "stats") {
            out += StatsText(camera) + "\n";
            continue;
        } else if (p.name == "help") {
            out += std::string(Help()) + "\n";
            continue;
        } else {
            return fail("unknown command " + p.name + "; try help=1");
        }
        out += "ok " + p.name + (v.empty() ? "" : "=" + v) + "\n";
    }
    *answer = out;
    return true;
}

}  // namespace camsim
