#pragma once
#include "runtime/CTickThread.h"

namespace kestrel {

// A periodic thread that calls one member function of its owner per tick.
template <class T>
class TTickThread : public CTickThread {
public:
    using Step = void (T::*)();

    TTickThread(IDebugMessage* debug, T* owner, Step step) : CTickThread(debug), m_owner(owner), m_step(step) {}
    // OnTick reaches members of this class, so the thread ends here, not in
    // the base destructor.
    ~TTickThread() override { StopThread(2000); }

    void OnTick() override {
        if (m_owner != nullptr && m_step != nullptr) (m_owner->*m_step)();
    }

private:
    T* const m_owner;
    const Step m_step;
};

}  // namespace kestrel
