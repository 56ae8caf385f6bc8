#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "io/CIOBase.h"
#include "web/CBaseHttpSender.h"

namespace kestrel {

class IDriver;

// Digital I/O of a Sony G4 camera through its CGI commands: the sensor
// inputs are read with one inquiry per tick, each alarm output change is one
// trigger request. Camera numbers start at 1, indices at 0.
class CSonyDigitalIO : public CIOBase {
public:
    explicit CSonyDigitalIO(IDriver* driver);
    // With senders of the caller's (tests where a real camera is not the point).
    CSonyDigitalIO(IDriver* driver, std::unique_ptr<Web::CBaseHttpSender> inputSender,
                   std::unique_ptr<Web::CBaseHttpSender> outputSender);
    ~CSonyDigitalIO() override;

    bool SetOutputState(uint32_t index, int32_t state) override;  // slot 7
    bool GetInputStates(uint32_t count) override;                 // slot 8
    void OnStartIO() override;                                    // slot 9
    void OnStopIO() override;                                     // slot 10

    // The inquiry answer (any letter case) to the states of inputs 0 … count-1.
    void ParseSensorStates(uint32_t count, const std::string& body);

    // The value of the first line whose name (trimmed of spaces and tabs) is
    // exactly `key`; empty when there is none.
    static std::string LookUpValue(const std::string& text, const std::string& key, const std::string& separator,
                                   const std::string& lineEnds);
    // A whole decimal number with an optional sign and nothing else.
    static bool ParseInteger(const std::string& value, int32_t& number);
    // Sensor value to state: 0 → 1 (off), 1 → 2 (on), anything else 0.
    static int32_t SensorState(const std::string& loweredText, uint32_t index);

protected:
    bool SetupSensors(uint32_t count);
    bool SetupAlarmOutputs(uint32_t count);

private:
    using PathMaker = std::string (*)(uint32_t cameraNumber);
    // Sets up inputs or outputs 1 … count, one request each.
    bool SetupPass(Web::CBaseHttpSender& sender, CManualEvent& stopEvent, PathMaker makePath, uint32_t count);

    void ReportInquiryFailure(uint32_t error);

    std::unique_ptr<Web::CBaseHttpSender> m_inputSender;
    std::unique_ptr<Web::CBaseHttpSender> m_outputSender;
    bool m_sensorsReady = false;            // input thread only
    uint32_t m_reportedInquiryFailure = 0;  // input thread only
    bool m_alarmOutputsReady = false;       // output thread only
};

}  // namespace kestrel
