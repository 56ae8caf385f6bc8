#pragma once
#include <cstdint>
#include <string>

#include "host/ICaptureCapabilities.h"
#include "host/IFrameIntervalList.h"
#include "tests/host/CallLog.h"

namespace testhost {

// Frame-interval list: "Add <ms>", "Default <ms>".
class TestIntervalList : public IFrameIntervalList {
public:
    void SetDefault(uint32_t ms) override { calls.Add("Default " + std::to_string(ms)); }
    void Add(uint32_t ms) override { calls.Add("Add " + std::to_string(ms)); }
    CallLog calls;
};

// Capability object; "GetList <n>" recorded in the list's log.
class TestCapabilities : public ICaptureCapabilities {
public:
    void Reserved1() override { list.calls.Add("Reserved"); }
    void Reserved2() override { list.calls.Add("Reserved"); }
    void Reserved3() override { list.calls.Add("Reserved"); }
    void Reserved4() override { list.calls.Add("Reserved"); }
    void Reserved5() override { list.calls.Add("Reserved"); }
    void Reserved6() override { list.calls.Add("Reserved"); }
    void Reserved7() override { list.calls.Add("Reserved"); }
    IFrameIntervalList* GetList(int32_t which) override {
        list.calls.Add("GetList " + std::to_string(which));
        return &list;
    }
    TestIntervalList list;
};

}  // namespace testhost
