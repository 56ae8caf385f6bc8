// The host calls every interface by position; every slot is checked.
#include <gtest/gtest.h>

#include "tests/host/VirtualSlot.h"

#include <cstddef>
#include <cstring>

#include "driver/IDriver.h"
#include "host/CCaptureAPIEx.h"
#include "host/CCaptureAPIUser.h"
#include "host/CDebugInfoIf.h"
#include "host/ICaptureCapabilities.h"
#include "host/ICaptureIOApi.h"
#include "host/ICaptureIOApiUser.h"
#include "host/IConnectionInfo.h"
#include "host/IDeviceDescription.h"
#include "host/IFrameAllocator.h"
#include "host/IFrameBuffer.h"
#include "host/IFrameIntervalList.h"
#include "host/IHostSink.h"
#include "host/IIPCaptureDriver.h"
#include "host/IIPVideoCapture.h"
#include "host/IModelInfo.h"
#include "host/IResolution.h"
#include "host/IStreamFormat.h"
#include "host/IStreamParameters.h"
#include "host/IVideoDescriptor.h"
#include "host/IVideoSink.h"
#include "runtime/IDebugMessage.h"

namespace {



using namespace kestrel::ipcapture;

TEST(SlotOrder, LegacyCaptureInterface) {
    EXPECT_SLOT(CCaptureAPI::Init, 1);
    EXPECT_SLOT(CCaptureAPI::SetCaptureUser, 2);
    EXPECT_SLOT(CCaptureAPI::SetFrameAllocator, 3);
    EXPECT_SLOT(CCaptureAPI::SetVideoStandard, 4);
    EXPECT_SLOT(CCaptureAPI::SetFourCC, 5);
    EXPECT_SLOT(CCaptureAPI::GetResolutionSize, 6);
    EXPECT_SLOT(CCaptureAPI::Fixed7, 7);
    EXPECT_SLOT(CCaptureAPI::GetCameraCount, 8);
    EXPECT_SLOT(CCaptureAPI::GetFirstFourCC, 9);
    EXPECT_SLOT(CCaptureAPI::GetNextFourCC, 10);
    EXPECT_SLOT(CCaptureAPI::GetMaxFrameRate, 11);
    EXPECT_SLOT(CCaptureAPI::Fixed12, 12);
    EXPECT_SLOT(CCaptureAPI::GetFirstResolution, 13);
    EXPECT_SLOT(CCaptureAPI::GetNextResolution, 14);
    EXPECT_SLOT(CCaptureAPI::GetFirstFrameInterval, 15);
    EXPECT_SLOT(CCaptureAPI::GetNextFrameInterval, 16);
    EXPECT_SLOT(CCaptureAPI::Fixed17, 17);
    EXPECT_SLOT(CCaptureAPI::Open, 18);
    EXPECT_SLOT(CCaptureAPI::Close, 19);
    EXPECT_SLOT(CCaptureAPI::StartChannel, 20);
    EXPECT_SLOT(CCaptureAPI::StopChannel, 21);
    EXPECT_SLOT(CCaptureAPI::GetChannelName, 22);
    EXPECT_SLOT(CCaptureAPI::Fixed23, 23);
    EXPECT_SLOT(CCaptureAPI::Fixed24, 24);
    EXPECT_SLOT(CCaptureAPI::Fixed25, 25);
    EXPECT_SLOT(CCaptureAPI::Fixed26, 26);
    EXPECT_SLOT(CCaptureAPI::Fixed27, 27);
    EXPECT_SLOT(CCaptureAPI::Fixed28, 28);
    EXPECT_SLOT(CCaptureAPI::Fixed29, 29);
    EXPECT_SLOT(CCaptureAPI::SetParameter, 30);
    EXPECT_SLOT(CCaptureAPI::GetParameter, 31);
    EXPECT_SLOT(CCaptureAPI::Fixed32, 32);
    EXPECT_SLOT(CCaptureAPI::Fixed33, 33);
    EXPECT_SLOT(CCaptureAPI::GetChannelStatus, 34);
    EXPECT_SLOT(CCaptureAPIEx::Fixed35, 35);
    EXPECT_SLOT(CCaptureAPIEx::Fixed36, 36);
    EXPECT_SLOT(CCaptureAPIEx::Fixed37, 37);
}

TEST(SlotOrder, HostObjectsOfTheLegacyInterface) {
    EXPECT_SLOT(CCaptureAPIUser::SendFrameCallback, 1);
    EXPECT_SLOT(CCaptureAPIUser::VideoStopped, 2);
    EXPECT_SLOT(CCaptureAPIUser::Reserved3, 3);
    EXPECT_SLOT(CCaptureAPIUser::DebugInfo, 4);
    EXPECT_SLOT(IFrameAllocator::AllocateFrame, 2);
    EXPECT_SLOT(IFrameAllocator::ReleaseFrame, 6);
    EXPECT_SLOT(IFrameBuffer::GetData, 2);
    EXPECT_SLOT(IFrameBuffer::SetDataSize, 4);
    EXPECT_SLOT(IFrameBuffer::BeginFrame, 5);
    EXPECT_SLOT(IFrameBuffer::SetFrameFourCC, 10);
    EXPECT_SLOT(IFrameBuffer::SetHeight, 12);
    EXPECT_SLOT(IFrameBuffer::SetWidth, 14);
    EXPECT_SLOT(IFrameBuffer::SetResolution, 16);
    EXPECT_SLOT(ICaptureCapabilities::GetList, 8);
    EXPECT_SLOT(IFrameIntervalList::SetDefault, 1);
    EXPECT_SLOT(IFrameIntervalList::Add, 2);
    EXPECT_SLOT(CDebugInfoIf::GetLevel, 1);
    EXPECT_SLOT(CDebugInfoIf::GetText, 2);
}

TEST(SlotOrder, DigitalIO) {
    EXPECT_SLOT(kestrel::ICaptureIOApi::SetIOUser, 1);
    EXPECT_SLOT(kestrel::ICaptureIOApi::StartIO, 2);
    EXPECT_SLOT(kestrel::ICaptureIOApi::StopIO, 3);
    EXPECT_SLOT(kestrel::ICaptureIOApi::GetInputCount, 4);
    EXPECT_SLOT(kestrel::ICaptureIOApi::GetOutputCount, 5);
    EXPECT_SLOT(kestrel::ICaptureIOApi::RequestOutputState, 6);
    EXPECT_SLOT(kestrel::ICaptureIOApiUser::InputStateChanged, 1);
    EXPECT_SLOT(kestrel::ICaptureIOApiUser::IOStatesReset, 2);
}

TEST(SlotOrder, IPCaptureInterface) {
    EXPECT_SLOT(IIPCaptureDriver::Initialize, 1);
    EXPECT_SLOT(IIPCaptureDriver::Shutdown, 2);
    EXPECT_SLOT(IIPCaptureDriver::GetVideoCapture, 3);
    EXPECT_SLOT(IIPCaptureDriver::GetIOApi, 4);
    EXPECT_SLOT(IIPVideoCapture::GetCameraCount, 1);
    EXPECT_SLOT(IIPVideoCapture::StartVideo, 2);
    EXPECT_SLOT(IIPVideoCapture::StopVideo, 3);
    EXPECT_SLOT(IIPVideoCapture::ChangeResolution, 4);
    EXPECT_SLOT(IIPVideoCapture::Fixed5, 5);
    EXPECT_SLOT(IIPVideoCapture::GetChannelStatus, 6);
    EXPECT_SLOT(IIPVideoCapture::SetParameter, 7);
    EXPECT_SLOT(IIPVideoCapture::GetParameter, 8);
}

TEST(SlotOrder, HostObjectsOfTheIPInterface) {
    EXPECT_SLOT(IHostSink::OnDebugInfo, 1);
    EXPECT_SLOT(IDeviceDescription::GetModel, 1);
    EXPECT_SLOT(IDeviceDescription::GetConnection, 2);
    EXPECT_SLOT(IModelInfo::GetModelName, 2);
    EXPECT_SLOT(IConnectionInfo::GetAddress, 1);
    EXPECT_SLOT(IConnectionInfo::GetPort, 2);
    EXPECT_SLOT(IConnectionInfo::GetCompression, 4);
    EXPECT_SLOT(IConnectionInfo::GetUserName, 5);
    EXPECT_SLOT(IConnectionInfo::GetPassword, 6);
    EXPECT_SLOT(IVideoSink::OnFrame, 1);
    EXPECT_SLOT(IVideoSink::OnVideoStopped, 3);
    EXPECT_SLOT(IStreamFormat::GetVideoDescriptor, 1);
    EXPECT_SLOT(IStreamFormat::GetStreamParameters, 2);
    EXPECT_SLOT(IVideoDescriptor::GetResolution, 3);
    EXPECT_SLOT(IResolution::GetWidth, 1);
    EXPECT_SLOT(IResolution::GetHeight, 2);
    EXPECT_SLOT(IStreamParameters::GetFrameInterval, 1);
    EXPECT_SLOT(IStreamParameters::GetQuality, 3);
}

TEST(SlotOrder, DriverServices) {
    EXPECT_SLOT(IDebugMessage::GetDeviceAddress, 1);
    EXPECT_SLOT(IDebugMessage::DebugMessage, 2);
    EXPECT_SLOT(kestrel::IDriver::GetDriverName, 3);
    EXPECT_SLOT(kestrel::IDriver::GetDeviceInfo, 4);
    EXPECT_SLOT(kestrel::IDriver::GetIOCounts, 5);
    EXPECT_SLOT(kestrel::IDriver::GetFrameAllocator, 6);
    EXPECT_SLOT(kestrel::IDriver::GetCaptureUser, 7);
    EXPECT_SLOT(kestrel::IDriver::GetVideoStandard, 8);
    EXPECT_SLOT(kestrel::IDriver::GetCameraCount, 9);
}

}  // namespace
