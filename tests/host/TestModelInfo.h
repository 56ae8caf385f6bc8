#pragma once
#include <string>

#include "host/IModelInfo.h"

namespace testhost {

class TestModelInfo : public kestrel::ipcapture::IModelInfo {
public:
    uint32_t GetModelId() override { return 0; }
    const char* GetModelName() override { return name.c_str(); }
    std::string name;
};

}  // namespace testhost
