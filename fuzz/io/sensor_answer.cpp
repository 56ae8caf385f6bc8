// The camera's sensor inquiry answer on any text: the states the host hears
// are those the line rules give, and LookUpValue with any key, separator and
// line ends returns what the rules say (and returns at all).
//
// Input: count byte, then either (selector bit 7 of the count clear) the
// answer text, or (set) key NUL separator NUL line-ends NUL text for a
// direct LookUpValue.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "capture/DEVICE_INFO.h"
#include "capture/IDriver.h"
#include "fuzz/FuzzInput.h"
#include "host/ICaptureIOApiUser.h"
#include "io/CSonyDigitalIO.h"

namespace {

// The line rules written out again, kept apart from the driver's code.
std::string ReferenceLookUp(const std::string& text, const std::string& key, const std::string& sep,
                            const std::string& ends) {
    if (key.empty() || sep.empty() || ends.empty()) return {};
    size_t pos = text.find(key);
    while (pos != std::string::npos) {
        const size_t before = text.find_last_of(ends, pos);
        const size_t lineStart = before == std::string::npos ? 0 : before + 1;
        size_t lineEnd = text.find_first_of(ends, pos);
        if (lineEnd == std::string::npos) lineEnd = text.size();
        const size_t s = text.find(sep, pos);
        if (s == std::string::npos) return {};
        size_t next;
        if (s < lineEnd) {
            next = lineEnd;
            std::string name = lineStart <= s ? text.substr(lineStart, s - lineStart) : std::string();
            const size_t a = name.find_first_not_of(" \t");
            const size_t b = name.find_last_not_of(" \t");
            name = a == std::string::npos ? std::string() : name.substr(a, b - a + 1);
            if (name == key) {
                const size_t valueStart = s + sep.size();
                if (valueStart < text.size()) {
                    size_t valueEnd = text.find_first_of(ends, valueStart);
                    if (valueEnd == std::string::npos) valueEnd = text.size();
                    if (valueEnd > valueStart) return text.substr(valueStart, valueEnd - valueStart);
                    next = valueEnd;
                }
            }
        } else {
            next = s;
        }
        // A search that would start where this one did finds the same place.
        if (next <= pos) next = pos + 1;
        pos = text.find(key, next);
    }
    return {};
}

int32_t ReferenceState(const std::string& lowered, uint32_t index) {
    if (lowered.empty()) return 0;
    const std::string v = ReferenceLookUp(lowered, "sensor" + std::to_string(index + 1), "=", "\r\n");
    if (v.empty()) return 0;
    const char c = v[0];
    if (!((c >= '0' && c <= '9') || c == '+' || c == '-')) return 0;
    if ((c == '+' || c == '-') && v.size() == 1) return 0;
    for (size_t i = 1; i < v.size(); ++i) {
        if (v[i] < '0' || v[i] > '9') return 0;
    }
    // Only 0 and 1 mean something; any other whole number does not.
    const std::string digits = (c == '+' || c == '-') ? v.substr(1) : v;
    const size_t nz = digits.find_first_not_of('0');
    const std::string magnitude = nz == std::string::npos ? "0" : digits.substr(nz);
    if (magnitude == "0") return 1;
    if (magnitude == "1" && c != '-') return 2;
    return 0;
}

class Driver : public kestrel::IDriver {
public:
    Driver() { device.address = "127.0.0.1"; }
    void SetInputs(int32_t inputs) { m_inputs = inputs; }
    std::string GetDeviceAddress() override { return device.address; }
    void DebugMessage(int, const char*, ...) override {}
    std::string GetDriverName() override { return "Halyard"; }
    const kestrel::DEVICE_INFO* GetDeviceInfo() override { return &device; }
    std::pair<int32_t, int32_t> GetIOCounts() override { return {m_inputs, 0}; }
    IFrameAllocator* GetFrameAllocator() override { return nullptr; }
    CCaptureAPIUser* GetCaptureUser() override { return nullptr; }
    int32_t GetVideoStandard() override { return 0; }
    uint32_t GetCameraCount() override { return 1; }
    kestrel::DEVICE_INFO device;

private:
    int32_t m_inputs = 0;
};

class Inputs : public kestrel::ICaptureIOApiUser {
public:
    void InputStateChanged(uint32_t index, int32_t state) override { states[index] = state; }
    void IOStatesReset() override { states.clear(); }
    std::map<uint32_t, int32_t> states;
};

// The digital I/O with its states made as a start makes them, no threads.
class SensorIO : public kestrel::CSonyDigitalIO {
public:
    explicit SensorIO(kestrel::IDriver* driver) : CSonyDigitalIO(driver) {}
    using CIOBase::ResetStates;
};

// Made once: the I/O object's two HTTP senders cost far more to build than
// a parse. ResetStates gives each input the undetermined start again, with
// the input count read anew from the driver.
struct Rig {
    Driver driver;
    Inputs host;
    SensorIO io{&driver};
    Rig() { io.SetIOUser(&host); }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t count = data[0];
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);

    if (count & 0x80) {
        std::vector<std::string> parts;
        size_t start = 0;
        for (int i = 0; i < 3; ++i) {
            const size_t nul = rest.find('\0', start);
            if (nul == std::string::npos) return 0;
            parts.push_back(rest.substr(start, nul - start));
            start = nul + 1;
        }
        const std::string text = rest.substr(start);
        const std::string value = kestrel::CSonyDigitalIO::LookUpValue(text, parts[0], parts[1], parts[2]);
        FUZZ_CHECK(value == ReferenceLookUp(text, parts[0], parts[1], parts[2]));
        FUZZ_CHECK(value.find_first_of(parts[2]) == std::string::npos || parts[2].empty());
        return 0;
    }

    const uint32_t inputs = count % 40;
    static Rig rig;
    rig.driver.SetInputs(static_cast<int32_t>(inputs));
    rig.host.states.clear();
    {
        SensorIO& io = rig.io;
        Inputs& host = rig.host;
        io.ResetStates();
        FUZZ_CHECK(io.GetInputCount() == inputs);
        io.ParseSensorStates(inputs, rest);
        std::string lowered = rest;
        for (char& c : lowered) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
        for (uint32_t i = 0; i < inputs; ++i) {
            const int32_t expected = ReferenceState(lowered, i);
            const auto it = host.states.find(i);
            // The host hears only of changes from the undetermined start.
            FUZZ_CHECK(expected == 0 ? it == host.states.end() : (it != host.states.end() && it->second == expected));
        }
        FUZZ_CHECK(host.states.size() <= inputs);
    }
    return 0;
}
