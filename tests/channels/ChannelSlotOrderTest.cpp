// The channel classes keep their virtual operations in a fixed order.
#include <gtest/gtest.h>

#include "tests/host/VirtualSlot.h"

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "channels/CSonyMJPEGChannelRTP.h"

namespace {

using namespace kestrel;



TEST(ChannelSlotOrder, PrimaryTable) {
    EXPECT_SLOT(CBaseCameraChannel::Start, 1);
    EXPECT_SLOT(CBaseCameraChannel::Stop, 2);
    EXPECT_SLOT(CBaseCameraChannel::GetState, 3);
    EXPECT_SLOT(CBaseCameraChannel::AbortPending, 4);
    EXPECT_SLOT(CBaseCameraChannel::ChannelLoop, 5);
    EXPECT_SLOT(CBaseRTPChannel::OnIdle, 6);
    EXPECT_SLOT(CBaseRTPChannel::KeepAlive, 7);
    EXPECT_SLOT(CBaseRTPChannel::PrepareStart, 8);
    EXPECT_SLOT(CBaseRTPChannel::OpenPorts, 9);
    EXPECT_SLOT(CBaseRTPChannel::ClosePorts, 10);
    EXPECT_SLOT(CBaseRTPChannel::StreamStateChanged, 11);
    EXPECT_SLOT(CBaseRTPChannel::StartStream, 12);
    // The Sony channel's overrides stay in their places and add none.
    EXPECT_SLOT(CSonyMJPEGChannelRTP::AbortPending, 4);
    EXPECT_SLOT(CSonyMJPEGChannelRTP::OnIdle, 6);
    EXPECT_SLOT(CSonyMJPEGChannelRTP::KeepAlive, 7);
    EXPECT_SLOT(CSonyMJPEGChannelRTP::OpenPorts, 9);
    EXPECT_SLOT(CSonyMJPEGChannelRTP::ClosePorts, 10);
    EXPECT_SLOT(CSonyMJPEGChannelRTP::StartStream, 12);
}

TEST(ChannelSlotOrder, ReceiverBases) {
    // The second and third bases are the channel itself as the packet and
    // RTCP user.
    static_assert(std::is_base_of_v<IRTPReceiverUser, CBaseRTPChannel>);
    static_assert(std::is_base_of_v<IRTCPSendReceiveUser, CSonyMJPEGChannelRTP>);
    EXPECT_SLOT(IRTPReceiverUser::PacketReceived, 1);
    EXPECT_SLOT(IRTPReceiverUser::ReceiveTimeout, 2);
    EXPECT_SLOT(IRTPReceiverUser::ReceiverClosed, 3);
    EXPECT_SLOT(IRTCPSendReceiveUser::RtcpTimeout, 1);
    EXPECT_SLOT(IRTCPSendReceiveUser::RtcpSocketClosed, 2);
}

}  // namespace
