#pragma once
#include <string>

#include "host/IConnectionInfo.h"
#include "host/IDeviceDescription.h"
#include "host/IModelInfo.h"

namespace testhost {

class TestModelInfo : public kestrel::ipcapture::IModelInfo {
public:
    uint32_t GetModelId() override { return 0; }
    const char* GetModelName() override { return name.c_str(); }
    std::string name;
};

class TestConnectionInfo : public kestrel::ipcapture::IConnectionInfo {
public:
    const char* GetAddress() override { return address.c_str(); }
    uint16_t GetPort() override { return port; }
    uint32_t GetTransport() override { return 0; }
    int32_t GetCompression() override { return compression; }
    const char* GetUserName() override { return userName.c_str(); }
    const char* GetPassword() override { return nullPassword ? nullptr : password.c_str(); }
    std::string address = "127.0.0.1";
    uint16_t port = 80;
    int32_t compression = 1;
    std::string userName;
    std::string password;
    bool nullPassword = false;
};

// A host's description of one IP camera: model and connection as members.
class TestDeviceDescription : public kestrel::ipcapture::IDeviceDescription {
public:
    kestrel::ipcapture::IModelInfo* GetModel() override { return &model; }
    kestrel::ipcapture::IConnectionInfo* GetConnection() override { return &connection; }
    TestModelInfo model;
    TestConnectionInfo connection;
};

}  // namespace testhost
