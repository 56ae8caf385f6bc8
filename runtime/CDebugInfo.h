#pragma once
#include <cstdint>
#include "host/CDebugInfoIf.h"

namespace kestrel {

// One message on its way to the host; built on the caller's stack.
class CDebugInfo : public CDebugInfoIf {
public:
    CDebugInfo(const char* text, int8_t level);
    ~CDebugInfo() override;
    CDebugInfo(const CDebugInfo&) = delete;
    CDebugInfo& operator=(const CDebugInfo&) = delete;

    int8_t GetLevel() const override;
    const char* GetText() const override;

private:
    int8_t m_level;
    char* m_text = nullptr;
};

}  // namespace kestrel
