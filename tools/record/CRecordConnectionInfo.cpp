#include "tools/record/CRecordConnectionInfo.h"

#include "tools/record/CPasswordReader.h"

namespace kestrel::record {

CRecordConnectionInfo::~CRecordConnectionInfo() { CPasswordReader::Wipe(m_password); }

}  // namespace kestrel::record
