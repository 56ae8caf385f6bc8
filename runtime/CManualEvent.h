#pragma once
#include "runtime/CEvent.h"

namespace kestrel {

// A manual-reset event: stays signalled until Reset.
class CManualEvent : public CEvent {
public:
    CManualEvent() : CEvent(true) {}
    ~CManualEvent() override = default;
};

}  // namespace kestrel
