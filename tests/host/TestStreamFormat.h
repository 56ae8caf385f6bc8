#pragma once
#include "host/IResolution.h"
#include "host/IStreamFormat.h"
#include "host/IStreamParameters.h"
#include "host/IVideoDescriptor.h"

namespace testhost {

// A stream format with its descriptor, resolution and parameters in one
// object graph (each a member, as a host would own them).
class TestResolution : public kestrel::ipcapture::IResolution {
public:
    TestResolution(uint16_t w = 352, uint16_t h = 288) : width(w), height(h) {}
    uint16_t GetWidth() override { return width; }
    uint16_t GetHeight() override { return height; }
    uint16_t width;
    uint16_t height;
};

class TestStreamFormat : public kestrel::ipcapture::IStreamFormat,
                         private kestrel::ipcapture::IVideoDescriptor,
                         private kestrel::ipcapture::IStreamParameters {
public:
    kestrel::ipcapture::IVideoDescriptor* GetVideoDescriptor() override { return this; }
    kestrel::ipcapture::IStreamParameters* GetStreamParameters() override { return this; }
    TestResolution resolution;
    uint16_t interval = 40;
    uint16_t quality = 60;

private:
    uint32_t GetCodec() override { return 0; }
    uint32_t GetBitRate() override { return 0; }
    kestrel::ipcapture::IResolution* GetResolution() override { return &resolution; }
    uint16_t GetFrameInterval() override { return interval; }
    uint16_t GetKeyFrameInterval() override { return 0; }
    uint16_t GetQuality() override { return quality; }
};

}  // namespace testhost
