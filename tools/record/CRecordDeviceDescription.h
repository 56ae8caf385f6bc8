#pragma once
#include "host/IDeviceDescription.h"
#include "tools/record/CRecordConnectionInfo.h"
#include "tools/record/CRecordModelInfo.h"

namespace kestrel::record {

// The device description handed to IIPCaptureDriver::Initialize.
class CRecordDeviceDescription : public kestrel::ipcapture::IDeviceDescription {
public:
    CRecordDeviceDescription(const std::string& model, const std::string& address, uint16_t port,
                             const std::string& user, const std::string& password)
        : m_model(model), m_connection(address, port, user, password) {}

    kestrel::ipcapture::IModelInfo* GetModel() override { return &m_model; }
    kestrel::ipcapture::IConnectionInfo* GetConnection() override { return &m_connection; }

private:
    CRecordModelInfo m_model;
    CRecordConnectionInfo m_connection;
};

}  // namespace kestrel::record
