#pragma once
#include <string>

#include "host/IConnectionInfo.h"

namespace kestrel::record {

// Camera address and credentials for the IP interface. Motion JPEG only.
class CRecordConnectionInfo : public kestrel::ipcapture::IConnectionInfo {
public:
    CRecordConnectionInfo(std::string address, uint16_t port, std::string user, const std::string& password)
        : m_address(std::move(address)), m_port(port), m_user(std::move(user)), m_password(password) {}
    ~CRecordConnectionInfo() override;

    const char* GetAddress() override { return m_address.c_str(); }
    uint16_t GetPort() override { return m_port; }
    uint32_t GetTransport() override { return 0; }
    int32_t GetCompression() override { return 1; }
    const char* GetUserName() override { return m_user.c_str(); }
    const char* GetPassword() override { return m_password.c_str(); }

private:
    std::string m_address;
    uint16_t m_port;
    std::string m_user;
    std::string m_password;
};

}  // namespace kestrel::record
