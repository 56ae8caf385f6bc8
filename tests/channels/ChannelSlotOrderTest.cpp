// The channel classes keep their virtual operations in a fixed order. With
// the Itanium C++ ABI a pointer to a virtual member function holds 1 + its
// byte offset in the vtable, and the virtual destructor takes two entries,
// so slot n >= 1 sits at entry n + 1.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "channels/CSonyMJPEGChannelRTP.h"

namespace {

using namespace kestrel;

template <typename M>
long SlotOf(M member) {
    static_assert(sizeof(M) == 2 * sizeof(void*));
    ptrdiff_t raw = 0;
    std::memcpy(&raw, &member, sizeof(raw));
    if ((raw & 1) == 0) return -1;  // not virtual
    return static_cast<long>((raw - 1) / static_cast<ptrdiff_t>(sizeof(void*))) - 1;
}

#define EXPECT_SLOT(member, slot) EXPECT_EQ(SlotOf(&member), (slot)) << #member

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
