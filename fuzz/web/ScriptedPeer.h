#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace fuzzweb {

// What the peer does with one request: the bytes it answers and how.
struct Reply {
    std::string bytes;
    size_t chunk = 0;          // write in pieces of this size; 0: all at once
    unsigned delayMs = 0;      // pause before each piece (small)
    size_t cutAt = SIZE_MAX;   // stop writing after this many bytes
    bool reset = false;        // end with RST instead of FIN
    bool keepOpen = false;     // wait for a further request on this connection
    bool hang = false;         // after writing, neither read nor close
};

// A web server on 127.0.0.1 that plays a script: the n-th request it reads,
// on whatever connection, gets the n-th reply; once the script is used up,
// connections are closed unanswered. One thread, raw sockets, no parser
// beyond finding the end of a request head; a TLS hello counts as a request.
class ScriptedPeer {
public:
    ScriptedPeer();
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    uint16_t Port() const { return m_port; }
    // Plays `script` until Finish; one play at a time.
    void Play(std::vector<Reply> script);
    // Stops the play, closing every connection; returns the requests read.
    size_t Finish();
    // Requests read so far in this play (TLS hellos included).
    size_t Requests() const { return m_next.load(); }
    const Reply* ReplyAt(size_t index) const { return index < m_script.size() ? &m_script[index] : nullptr; }

private:
    void Serve();
    bool ServeConnection(int fd);
    bool ReadRequest(int fd);
    bool WriteAll(int fd, const char* data, size_t size);
    bool Stopping(int timeoutMs);

    int m_listen = -1;
    int m_wake = -1;
    uint16_t m_port = 0;
    std::vector<Reply> m_script;
    std::atomic<size_t> m_next{0};
    std::thread m_thread;
    std::vector<int> m_held;   // hung connections, closed by Finish
};

}  // namespace fuzzweb
