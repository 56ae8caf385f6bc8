#pragma once
#include "host/IDeviceDescription.h"
#include "tests/host/TestConnectionInfo.h"
#include "tests/host/TestModelInfo.h"

namespace testhost {

class TestDeviceDescription : public kestrel::ipcapture::IDeviceDescription {
public:
    kestrel::ipcapture::IModelInfo* GetModel() override { return &model; }
    kestrel::ipcapture::IConnectionInfo* GetConnection() override { return &connection; }
    TestModelInfo model;
    TestConnectionInfo connection;
};

}  // namespace testhost
