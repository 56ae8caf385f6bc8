// The host calls every interface by position; every slot is checked.
#include <gtest/gtest.h>

#include <initializer_list>

#include "capture/IDriver.h"
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
#include "tests/host/VirtualSlot.h"

namespace {

using namespace kestrel::ipcapture;

struct Row {
    long actual, slot;
    const char* name;
};
#define SLOT(member, slot) \
    Row { ::testhost::SlotOf(&member), slot, #member }
void Check(std::initializer_list<Row> rows) {
    for (const Row& r : rows) EXPECT_EQ(r.actual, r.slot) << r.name;
}

TEST(SlotOrder, LegacyCaptureInterface) {
    using C = CCaptureAPI;
    Check({SLOT(C::Init, 1),
           SLOT(C::SetCaptureUser, 2),
           SLOT(C::SetFrameAllocator, 3),
           SLOT(C::SetVideoStandard, 4),
           SLOT(C::SetFourCC, 5),
           SLOT(C::GetResolutionSize, 6),
           SLOT(C::Fixed7, 7),
           SLOT(C::GetCameraCount, 8),
           SLOT(C::GetFirstFourCC, 9),
           SLOT(C::GetNextFourCC, 10),
           SLOT(C::GetMaxFrameRate, 11),
           SLOT(C::Fixed12, 12),
           SLOT(C::GetFirstResolution, 13),
           SLOT(C::GetNextResolution, 14),
           SLOT(C::GetFirstFrameInterval, 15),
           SLOT(C::GetNextFrameInterval, 16),
           SLOT(C::Fixed17, 17),
           SLOT(C::Open, 18),
           SLOT(C::Close, 19),
           SLOT(C::StartChannel, 20),
           SLOT(C::StopChannel, 21),
           SLOT(C::GetChannelName, 22),
           SLOT(C::Fixed23, 23),
           SLOT(C::Fixed24, 24),
           SLOT(C::Fixed25, 25),
           SLOT(C::Fixed26, 26),
           SLOT(C::Fixed27, 27),
           SLOT(C::Fixed28, 28),
           SLOT(C::Fixed29, 29),
           SLOT(C::SetParameter, 30),
           SLOT(C::GetParameter, 31),
           SLOT(C::Fixed32, 32),
           SLOT(C::Fixed33, 33),
           SLOT(C::GetChannelStatus, 34),
           SLOT(CCaptureAPIEx::Fixed35, 35),
           SLOT(CCaptureAPIEx::Fixed36, 36),
           SLOT(CCaptureAPIEx::Fixed37, 37)});
}

TEST(SlotOrder, HostObjectsOfTheLegacyInterface) {
    Check({SLOT(CCaptureAPIUser::SendFrameCallback, 1), SLOT(CCaptureAPIUser::VideoStopped, 2),
           SLOT(CCaptureAPIUser::Reserved3, 3), SLOT(CCaptureAPIUser::DebugInfo, 4),
           SLOT(IFrameAllocator::AllocateFrame, 2), SLOT(IFrameAllocator::ReleaseFrame, 6),
           SLOT(IFrameBuffer::GetData, 2), SLOT(IFrameBuffer::SetDataSize, 4), SLOT(IFrameBuffer::BeginFrame, 5),
           SLOT(IFrameBuffer::SetFrameFourCC, 10), SLOT(IFrameBuffer::SetHeight, 12), SLOT(IFrameBuffer::SetWidth, 14),
           SLOT(IFrameBuffer::SetResolution, 16), SLOT(ICaptureCapabilities::GetList, 8),
           SLOT(IFrameIntervalList::SetDefault, 1), SLOT(IFrameIntervalList::Add, 2), SLOT(CDebugInfoIf::GetLevel, 1),
           SLOT(CDebugInfoIf::GetText, 2)});
}

TEST(SlotOrder, DigitalIOAndDriverServices) {
    using IO = kestrel::ICaptureIOApi;
    using D = kestrel::IDriver;
    Check({SLOT(IO::SetIOUser, 1), SLOT(IO::StartIO, 2), SLOT(IO::StopIO, 3), SLOT(IO::GetInputCount, 4),
           SLOT(IO::GetOutputCount, 5), SLOT(IO::RequestOutputState, 6),
           SLOT(kestrel::ICaptureIOApiUser::InputStateChanged, 1), SLOT(kestrel::ICaptureIOApiUser::IOStatesReset, 2),
           SLOT(IDebugMessage::GetDeviceAddress, 1), SLOT(IDebugMessage::DebugMessage, 2), SLOT(D::GetDriverName, 3),
           SLOT(D::GetDeviceInfo, 4), SLOT(D::GetIOCounts, 5), SLOT(D::GetFrameAllocator, 6),
           SLOT(D::GetCaptureUser, 7), SLOT(D::GetVideoStandard, 8), SLOT(D::GetCameraCount, 9)});
}

TEST(SlotOrder, IPCaptureInterfaceAndItsHostObjects) {
    Check({SLOT(IIPCaptureDriver::Initialize, 1),
           SLOT(IIPCaptureDriver::Shutdown, 2),
           SLOT(IIPCaptureDriver::GetVideoCapture, 3),
           SLOT(IIPCaptureDriver::GetIOApi, 4),
           SLOT(IIPVideoCapture::GetCameraCount, 1),
           SLOT(IIPVideoCapture::StartVideo, 2),
           SLOT(IIPVideoCapture::StopVideo, 3),
           SLOT(IIPVideoCapture::ChangeResolution, 4),
           SLOT(IIPVideoCapture::Fixed5, 5),
           SLOT(IIPVideoCapture::GetChannelStatus, 6),
           SLOT(IIPVideoCapture::SetParameter, 7),
           SLOT(IIPVideoCapture::GetParameter, 8),
           SLOT(IHostSink::OnDebugInfo, 1),
           SLOT(IDeviceDescription::GetModel, 1),
           SLOT(IDeviceDescription::GetConnection, 2),
           SLOT(IModelInfo::GetModelName, 2),
           SLOT(IConnectionInfo::GetAddress, 1),
           SLOT(IConnectionInfo::GetPort, 2),
           SLOT(IConnectionInfo::GetCompression, 4),
           SLOT(IConnectionInfo::GetUserName, 5),
           SLOT(IConnectionInfo::GetPassword, 6),
           SLOT(IVideoSink::OnFrame, 1),
           SLOT(IVideoSink::OnVideoStopped, 3),
           SLOT(IStreamFormat::GetVideoDescriptor, 1),
           SLOT(IStreamFormat::GetStreamParameters, 2),
           SLOT(IVideoDescriptor::GetResolution, 3),
           SLOT(IResolution::GetWidth, 1),
           SLOT(IResolution::GetHeight, 2),
           SLOT(IStreamParameters::GetFrameInterval, 1),
           SLOT(IStreamParameters::GetQuality, 3)});
}

}  // namespace
