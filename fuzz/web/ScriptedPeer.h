#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fuzzweb {

// What the peer does with one request: the bytes it answers and how.
struct Reply {
    std::string bytes;
    size_t chunk = 0;         // write in pieces of this size; 0: all at once
    unsigned delayUs = 0;     // pause before each piece (small)
    size_t cutAt = SIZE_MAX;  // stop writing after this many bytes
    bool reset = false;       // end with RST instead of FIN
    bool keepOpen = false;    // wait for a further request on this connection
    bool hang = false;        // after writing, neither read nor close
};

// A web server on 127.0.0.1 that plays a script: the n-th request it reads,
// on whatever connection, gets the n-th reply; once the script is used up,
// connections are closed unanswered. One thread for the peer's whole life,
// raw sockets, no parser beyond finding the end of a request head; a TLS
// hello counts as a request.
class ScriptedPeer {
public:
    ScriptedPeer();
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    uint16_t Port() const { return m_port; }
    // Plays `script` until Finish; one play at a time.
    void Play(std::vector<Reply> script);
    // Stops the play and leaves nothing of it behind: every connection it
    // accepted or left waiting in the backlog is closed. Returns the
    // requests read.
    size_t Finish();
    // Requests read so far in this play (TLS hellos included).
    size_t Requests() const { return m_next.load(); }
    const Reply* ReplyAt(size_t index) const { return index < m_script.size() ? &m_script[index] : nullptr; }

private:
    void Run();
    void Serve();
    void EndPlay();
    bool ServeConnection(int fd);
    bool ReadRequest(int fd);
    bool WriteAll(int fd, const char* data, size_t size);
    bool Stopping(unsigned timeoutUs);

    int m_listen = -1;
    int m_wake = -1;  // ends the play in progress
    uint16_t m_port = 0;
    // Written by Play while the thread is idle, read by both during a play.
    std::vector<Reply> m_script;
    std::atomic<size_t> m_next{0};

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_playing = false;   // under m_mutex: set by Play, cleared by the thread
    bool m_quit = false;      // under m_mutex
    std::vector<int> m_held;  // hung connections of the play; thread only
    std::thread m_thread;     // started by the constructor, joined by the destructor
};

}  // namespace fuzzweb
