#include "channels/CChannelThreadMark.h"

namespace kestrel {

namespace {
// Initial-exec: read once per picture, and the general model from a loaded
// library walks the thread's module table (cold lines by then) on each use.
[[gnu::tls_model("initial-exec")]] thread_local const ICameraChannel* t_channel = nullptr;
}  // namespace

CChannelThreadMark::CChannelThreadMark(const ICameraChannel* channel) : m_previous(t_channel) { t_channel = channel; }

CChannelThreadMark::~CChannelThreadMark() { t_channel = m_previous; }

const ICameraChannel* CChannelThreadMark::Current() { return t_channel; }

}  // namespace kestrel
