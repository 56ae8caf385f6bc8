#include "channels/CChannelThreadMark.h"

namespace kestrel {

namespace {
thread_local const ICameraChannel* t_channel = nullptr;
}  // namespace

CChannelThreadMark::CChannelThreadMark(const ICameraChannel* channel) : m_previous(t_channel) { t_channel = channel; }

CChannelThreadMark::~CChannelThreadMark() { t_channel = m_previous; }

const ICameraChannel* CChannelThreadMark::Current() { return t_channel; }

void CChannelThreadMark::MarkForLife(const ICameraChannel* channel) { t_channel = channel; }

}  // namespace kestrel
