#include "web/CBaseHttpSender.h"

#include "web/CHttpSender.h"

namespace Web {

std::unique_ptr<CBaseHttpSender> CBaseHttpSender::Create(const kestrel::DEVICE_INFO& device) {
    return std::make_unique<CHttpSender>(device);
}

const char* CBaseHttpSender::FailureText(uint32_t error) {
    switch (error) {
    case ErrorTimeout:
        return "no whole answer within the request time limit";
    case ErrorAnswerTooLarge:
        return "the answer is larger than 1 MiB";
    case ErrorDowngradeRefused:
        return "HTTPS failed and credentials are set: plain HTTP refused";
    case ErrorKeyChanged:
        return "the certificate key changed since the first connection";
    default:
        return nullptr;
    }
}

}  // namespace Web
