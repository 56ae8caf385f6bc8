#pragma once

namespace kestrel {

class ICameraChannel;

// Which channel the calling thread works for: set for the whole life of a
// channel's own thread and around the transport callbacks that carry a
// channel's work. Whatever the host does from a callback on such a thread
// (stop or close the channel) must not wait for that thread: the driver
// asks here.
class CChannelThreadMark {
public:
    explicit CChannelThreadMark(const ICameraChannel* channel);
    ~CChannelThreadMark();
    CChannelThreadMark(const CChannelThreadMark&) = delete;
    CChannelThreadMark& operator=(const CChannelThreadMark&) = delete;

    // The channel of the innermost mark on this thread; null on others.
    static const ICameraChannel* Current();

    // Marks the calling thread for channel until the thread ends, for a
    // thread that serves one channel all its life (the video receive
    // thread): once instead of around every picture. Not within a scoped
    // mark, whose end would undo it.
    static void MarkForLife(const ICameraChannel* channel);

private:
    const ICameraChannel* m_previous;
};

}  // namespace kestrel
