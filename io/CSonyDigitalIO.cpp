#include "io/CSonyDigitalIO.h"

#include <limits>
#include <utility>
#include <vector>

#include "capture/DEVICE_INFO.h"
#include "capture/IDriver.h"
#include "runtime/DebugLevel.h"
#include "runtime/FormatString.h"
#include "web/HttpRequest.h"

namespace kestrel {

namespace {

const DEVICE_INFO& DeviceOf(IDriver* driver) {
    static const DEVICE_INFO kNone;
    const DEVICE_INFO* device = driver != nullptr ? driver->GetDeviceInfo() : nullptr;
    return device != nullptr ? *device : kNone;
}

bool IsSuccess(uint32_t status) { return status / 100 == 2; }

std::string SensorSetupPath(uint32_t n) { return FormatString("/command/system.cgi?Sensor%uMode=make", n); }

std::string AlarmOutputSetupPath(uint32_t n) {
    return FormatString("/command/alarmout.cgi?AlarmOut%uFunc=off&Ao%uManualFunc=on", n, n);
}

}  // namespace

CSonyDigitalIO::CSonyDigitalIO(IDriver* driver)
    : CSonyDigitalIO(driver, Web::CBaseHttpSender::Create(DeviceOf(driver)),
                     Web::CBaseHttpSender::Create(DeviceOf(driver))) {}

CSonyDigitalIO::CSonyDigitalIO(IDriver* driver, std::unique_ptr<Web::CBaseHttpSender> inputSender,
                               std::unique_ptr<Web::CBaseHttpSender> outputSender)
    : CIOBase(driver), m_inputSender(std::move(inputSender)), m_outputSender(std::move(outputSender)) {}

CSonyDigitalIO::~CSonyDigitalIO() { StopIO(); }

void CSonyDigitalIO::OnStartIO() {
    m_sensorsReady = false;
    m_alarmOutputsReady = false;
    m_inputSender->ResetCancel();
    m_outputSender->ResetCancel();
}

void CSonyDigitalIO::OnStopIO() {
    m_inputSender->Cancel();
    m_outputSender->Cancel();
}

bool CSonyDigitalIO::SetupPass(Web::CBaseHttpSender& sender, CManualEvent& stopEvent, PathMaker makePath,
                               uint32_t count) {
    bool result = true;
    for (uint32_t n = 1; n <= count; ++n) {
        if (stopEvent.IsSet()) return result;
        const Web::HttpRequest request("GET", makePath(n));
        if (!sender.Send(request)) return false;
        if (!IsSuccess(sender.StatusCode())) result = false;
    }
    return result;
}

bool CSonyDigitalIO::SetupSensors(uint32_t count) {
    return SetupPass(*m_inputSender, m_inputThread.GetStopEvent(), &SensorSetupPath, count);
}

bool CSonyDigitalIO::SetupAlarmOutputs(uint32_t count) {
    return SetupPass(*m_outputSender, m_outputThread.GetStopEvent(), &AlarmOutputSetupPath, count);
}

bool CSonyDigitalIO::GetInputStates(uint32_t count) {
    if (!m_sensorsReady) m_sensorsReady = SetupSensors(count);
    if (InputStopRequested()) return true;

    if (!m_inputSender->Send(Web::HttpRequest("GET", "/command/inquiry.cgi?inq=sensor"))) {
        // An inquiry cancelled by StopIO is no camera failure: reporting it
        // would log an error and reset the host's states on a plain stop.
        if (!InputStopRequested()) ReportInquiryFailure(m_inputSender->LastError());
        return InputStopRequested();
    }
    std::string body;
    if (m_inputSender->StatusCode() == 200) {
        std::vector<uint8_t> bytes;
        m_inputSender->ReadResponse(bytes);
        // A body cut short by StopIO would report inputs as undetermined.
        if (InputStopRequested()) return true;
        if (m_inputSender->ReadFailure() != 0) {
            // Too large or too slow: the states stay as they were.
            ReportInquiryFailure(m_inputSender->ReadFailure());
            return true;
        }
        body.assign(bytes.begin(), bytes.end());
    }
    m_reportedInquiryFailure = 0;
    ParseSensorStates(count, body);
    return true;
}

void CSonyDigitalIO::ReportInquiryFailure(uint32_t error) {
    const char* text = Web::CBaseHttpSender::FailureText(error);
    if (text == nullptr || m_reportedInquiryFailure == error || m_driver == nullptr) return;
    // Each failure once until an inquiry succeeds: a hostile camera would
    // fill the log.
    m_reportedInquiryFailure = error;
    const DEVICE_INFO* device = m_driver->GetDeviceInfo();
    m_driver->DebugMessage(LevelError, "%s: The sensor inquiry of device %s failed: %s (%u)",
                           "kestrel::CSonyDigitalIO::GetInputStates", device != nullptr ? device->address.c_str() : "",
                           text, error);
}

bool CSonyDigitalIO::SetOutputState(uint32_t index, int32_t state) {
    if (!m_alarmOutputsReady) m_alarmOutputsReady = SetupAlarmOutputs(GetOutputCount());
    if (OutputStopRequested()) return true;

    const char* word = nullptr;
    if (state == 1) {
        word = "off";
    } else if (state == 2) {
        word = "on";
    } else {
        return true;
    }
    // The camera takes this command without a leading slash.
    const std::string path = FormatString("command/main.cgi?trigger=alarmout%u", index + 1) + word;
    // Whether the camera took it is not looked at.
    m_outputSender->Send(Web::HttpRequest("GET", path));
    return true;
}

void CSonyDigitalIO::ParseSensorStates(uint32_t count, const std::string& body) {
    std::string text = body;
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    for (uint32_t i = 0; i < count; ++i) UpdateInputState(i, SensorState(text, i));
}

int32_t CSonyDigitalIO::SensorState(const std::string& loweredText, uint32_t index) {
    if (loweredText.empty()) return 0;
    const std::string value = LookUpValue(loweredText, FormatString("sensor%u", index + 1), "=", "\r\n");
    int32_t number = 0;
    if (!ParseInteger(value, number)) return 0;
    if (number == 0) return 1;
    if (number == 1) return 2;
    return 0;
}

std::string CSonyDigitalIO::LookUpValue(const std::string& text, const std::string& key, const std::string& separator,
                                        const std::string& lineEnds) {
    if (key.empty() || separator.empty() || lineEnds.empty()) return {};
    size_t pos = text.find(key);
    while (pos != std::string::npos) {
        const size_t lastEnd = text.find_last_of(lineEnds, pos);
        const size_t lineStart = lastEnd == std::string::npos ? 0 : lastEnd + 1;
        size_t lineEnd = text.find_first_of(lineEnds, pos);
        if (lineEnd == std::string::npos) lineEnd = text.size();
        const size_t sep = text.find(separator, pos);
        if (sep == std::string::npos) return {};

        size_t next = sep;
        if (sep < lineEnd) {
            next = lineEnd;
            if (lineStart <= sep) {
                const size_t first = text.find_first_not_of(" \t", lineStart);
                std::string name;
                if (first != std::string::npos && first < sep) {
                    const size_t last = text.find_last_not_of(" \t", sep - 1);
                    name = text.substr(first, last - first + 1);
                }
                if (name == key) {
                    const size_t valueStart = sep + separator.size();
                    if (valueStart < text.size()) {
                        size_t valueEnd = text.find_first_of(lineEnds, valueStart);
                        if (valueEnd == std::string::npos) valueEnd = text.size();
                        if (valueEnd > valueStart) return text.substr(valueStart, valueEnd - valueStart);
                        next = valueEnd;
                    }
                }
            }
        }
        // Keys that begin with a separator or line-end character could
        // otherwise find the same place forever.
        if (next <= pos) next = pos + 1;
        pos = text.find(key, next);
    }
    return {};
}

bool CSonyDigitalIO::ParseInteger(const std::string& value, int32_t& number) {
    if (value.empty()) return false;
    size_t i = 0;
    bool negative = false;
    if (value[0] == '+' || value[0] == '-') {
        negative = value[0] == '-';
        i = 1;
        if (value.size() == 1) return false;
    }
    // Accumulated as a negative number so that the smallest int fits too.
    int64_t result = 0;
    for (; i < value.size(); ++i) {
        const char c = value[i];
        if (c < '0' || c > '9') return false;
        result = result * 10 - (c - '0');
        if (result < static_cast<int64_t>(std::numeric_limits<int32_t>::min())) return false;
    }
    if (!negative) {
        result = -result;
        if (result > std::numeric_limits<int32_t>::max()) return false;
    }
    number = static_cast<int32_t>(result);
    return true;
}

}  // namespace kestrel
