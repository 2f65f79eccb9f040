#include "maintenance/MaintenanceProtocol.h"

#include "core/ByteOrder.h"

const MaintenanceEndpoint kUpgradeServer = {kUpgradeServerPort, "链接升级服务器:[%s][%d]失败!\n",
                                            "链接升级服务器：[%s][%d]成功！\n"};
const MaintenanceEndpoint kFileServer = {kFileServerPort, "链接文件服务器:[%s][%d]失败!\n",
                                         "链接文件服务器：[%s][%d]成功！\n"};

namespace {
void appendU32(Request& request, uint32_t value) {
    uint8_t bytes[4];
    writeU32le(bytes, value);
    request.insert(request.end(), bytes, bytes + 4);
}

Request buildAddressRequest(uint32_t code, const std::string& address) {
    Request request;
    appendU32(request, code);
    appendU32(request, static_cast<uint32_t>(address.size()));
    request.insert(request.end(), address.begin(), address.end());
    return request;
}
}  // namespace

Request buildCodeRequest(uint32_t code) {
    Request request;
    appendU32(request, code);
    return request;
}

Request buildSetDeviceIpRequest(const std::string& address) {
    return buildAddressRequest(kCmdSetDeviceIp, address);
}

Request buildSetInterfaceRequest(const std::string& address, int32_t port) {
    Request request = buildAddressRequest(kCmdSetInterface, address);
    appendU32(request, static_cast<uint32_t>(port));
    return request;
}

void encodeUpgradeHeader(const UpInfo& info, uint8_t* out) {
    writeU32le(out, kCmdUpgrade);
    encodeUpInfo(info, out + 4);
}
