#pragma once
#include <cstdint>
#include <vector>

#include "capture/DEVICE_INFO.h"
#include "web/HttpRequest.h"

namespace Web {

// A blocking HTTP client bound to one camera.
class CBaseHttpSender {
public:
    explicit CBaseHttpSender(const kestrel::DEVICE_INFO& device) : m_device(device) {}
    virtual ~CBaseHttpSender() = default;                                                // slot 0
    CBaseHttpSender(const CBaseHttpSender&) = delete;
    CBaseHttpSender& operator=(const CBaseHttpSender&) = delete;

    virtual bool Send(const HttpRequest& request) = 0;                                   // slot 1
    virtual void Cancel() = 0;                                                           // slot 2
    virtual uint32_t QueryDataAvailable() = 0;                                           // slot 3
    virtual uint32_t ReadResponse(std::vector<uint8_t>& out) = 0;                        // slot 4
    virtual uint32_t ReadData(std::vector<uint8_t>& out, uint32_t maxBytes, bool clear) = 0;  // slot 5

    const kestrel::DEVICE_INFO& GetDevice() const { return m_device; }

protected:
    kestrel::DEVICE_INFO m_device;
};

}  // namespace Web
