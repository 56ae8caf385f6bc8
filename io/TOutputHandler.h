#pragma once
#include <cstdint>

#include "io/COutputState.h"
#include "io/CQueueThread.h"

namespace kestrel {

// The output queue thread: hands every queued change to one member function
// of its owner.
template <class T>
class TOutputHandler : public CQueueThread<COutputState> {
public:
    using Step = void (T::*)(uint32_t index, int32_t state);

    TOutputHandler(IDebugMessage* debug, T* owner, Step step)
        : CQueueThread<COutputState>(debug), m_owner(owner), m_step(step) {}
    // ProcessItem reaches members of this class: end the thread here.
    ~TOutputHandler() override { JoinThread(5000); }

    void ProcessItem(COutputState* item) override {
        if (m_step != nullptr && m_owner != nullptr && item != nullptr) (m_owner->*m_step)(item->index, item->state);
    }

private:
    T* const m_owner;
    const Step m_step;
};

}  // namespace kestrel
