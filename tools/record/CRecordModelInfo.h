#pragma once
#include <string>

#include "host/IModelInfo.h"

namespace kestrel::record {

class CRecordModelInfo : public kestrel::ipcapture::IModelInfo {
public:
    explicit CRecordModelInfo(std::string name) : m_name(std::move(name)) {}
    uint32_t GetModelId() override { return 1; }
    const char* GetModelName() override { return m_name.c_str(); }

private:
    std::string m_name;
};

}  // namespace kestrel::record
