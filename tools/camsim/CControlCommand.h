#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace camsim {

class CCamera;

// The simulator's control language, used by "/simctl?..." on each camera's
// web server and by the command line's standard input. A command is a query
// string; its parts run in order:
//
//   drop=F dup=F reorder=F   fraction 0..1 of RTP packets dropped, sent twice,
//                            swapped with the next one
//   cut=N                    every picture sent without its last N bytes
//                            (0..65535; 0 sends them whole again)
//   pause=1|0                stop / resume sending RTP (RTCP goes on)
//   stop=1                   end the stream (a new mjpeg request starts one)
//   seqjump=N                next packet's sequence number jumps by N
//   newssrc=random|N         switch to a new SSRC from the next packet
//   longdgram=N              next picture's first datagram is N bytes
//   oversize=1|N             next picture padded past 786432+65536 (or N,
//                            at most 16 MiB) bytes
//   status=CODE[:PATTERN]    answer CODE to requests whose target contains
//                            PATTERN (all when absent or "*")
//   hang=PATTERN             hold matching requests until released or the
//                            client goes away
//   close=PATTERN            close matching connections without an answer
//   times=N                  the HTTP rules of this command apply N times
//   release=1                let hanging requests go on
//   clearhttp=1              remove the HTTP rules, release hangs
//   reset=1                  every fault off
//   sensor=N:0|1             set sensor input N
//   stats=1                  answer with the camera's figures
//   help=1                   this list
//
// Every value has an upper bound (below): one request must not be able to
// take the simulator's memory.
class CControlCommand {
public:
    static constexpr size_t kMaxCommand = 4096;        // bytes of one command
    static constexpr size_t kMaxOversize = 16u << 20;  // padded picture
    static constexpr uint32_t kMaxTimes = 1000000;
    static constexpr size_t kMaxPattern = 256;   // bytes of a PATTERN
    static constexpr size_t kMaxHttpRules = 64;  // rules in force at once

    // Applies the command to the camera; *answer gets one line per part.
    // False when a part was not understood (the parts before it stay done).
    static bool Apply(CCamera& camera, std::string_view command, std::string* answer);
    static const char* Help();
    // True for an address on the loopback network: 127.0.0.0/8, ::1, or
    // 127.0.0.0/8 mapped into IPv6. Text that is no address is not.
    static bool IsLoopbackPeer(std::string_view address);
};

}  // namespace camsim
