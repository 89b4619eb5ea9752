#include "vxi11_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "vxi11/vxi11_codes.h"

namespace tarnel::vxi11::test {

namespace {

constexpr timeval kCallTimeout{30, 0};

// The arguments of a procedure that takes none.
struct Nothing {};
bool_t EncodeNothing(XDR*, Nothing*) { return TRUE; }

template <typename Arguments, typename Results>
bool Call(CLIENT* client, unsigned long procedure, bool_t (*encode)(XDR*, Arguments*), Arguments& arguments,
          bool_t (*decode)(XDR*, Results*), Results& results) {
    if (client == nullptr) return false;
    return clnt_call(client, procedure, reinterpret_cast<xdrproc_t>(encode), reinterpret_cast<char*>(&arguments),
                     reinterpret_cast<xdrproc_t>(decode), reinterpret_cast<char*>(&results), kCallTimeout) == RPC_SUCCESS;
}

template <typename Arguments>
long ErrorOf(CLIENT* client, unsigned long procedure, bool_t (*encode)(XDR*, Arguments*), Arguments& arguments) {
    Device_Error result{};
    return Call(client, procedure, encode, arguments, xdr_Device_Error, result) ? result.error : -1;
}

}  // namespace

CoreClient::CoreClient(std::uint16_t port, unsigned long program) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int socket = RPC_ANYSOCK;
    client_ = clnttcp_create(&address, program, 1, &socket, 0, 0);
}

CoreClient::~CoreClient() {
    if (client_ != nullptr) clnt_destroy(client_);
}

CoreClient::Link CoreClient::CreateLink(const std::string& device, bool lock, unsigned long lockTimeout) {
    Create_LinkParms parms{};
    parms.clientId = 1;
    parms.lockDevice = lock;
    parms.lock_timeout = lockTimeout;
    parms.device = const_cast<char*>(device.c_str());
    Create_LinkResp result{};
    if (!Call(client_, create_link, xdr_Create_LinkParms, parms, xdr_Create_LinkResp, result)) return {};
    return {result.error, result.lid, result.abortPort, result.maxRecvSize};
}

std::pair<long, unsigned long> CoreClient::Write(long lid, const std::string& data, long flags, unsigned long ioTimeout,
                                                 unsigned long lockTimeout) {
    Device_WriteParms parms{};
    parms.lid = lid;
    parms.io_timeout = ioTimeout;
    parms.lock_timeout = lockTimeout;
    parms.flags = flags;
    parms.data.data_len = static_cast<u_int>(data.size());
    parms.data.data_val = const_cast<char*>(data.data());
    Device_WriteResp result{};
    if (!Call(client_, device_write, xdr_Device_WriteParms, parms, xdr_Device_WriteResp, result)) return {-1, 0};
    return {result.error, result.size};
}

ReadResult CoreClient::Read(long lid, unsigned long requestSize, long flags, char termChar, unsigned long ioTimeout,
                            unsigned long lockTimeout) {
    Device_ReadParms parms{lid, requestSize, ioTimeout, lockTimeout, flags, termChar};
    Device_ReadResp result{};
    ReadResult read;
    if (!Call(client_, device_read, xdr_Device_ReadParms, parms, xdr_Device_ReadResp, result)) return read;
    read = {result.error, result.reason, std::string(result.data.data_val, result.data.data_len)};
    clnt_freeres(client_, reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp), reinterpret_cast<char*>(&result));
    return read;
}

std::string CoreClient::Query(long lid, const std::string& message) {
    if (Write(lid, message, kFlagEnd).first != 0) return "(write failed)";
    std::string reply;
    while (true) {
        const ReadResult piece = Read(lid, 1024);
        if (piece.error != 0) return reply + "(read error " + std::to_string(piece.error) + ")";
        reply += piece.data;
        if ((piece.reason & kReasonEnd) != 0) return reply;
    }
}

std::pair<long, int> CoreClient::ReadStatusByte(long lid, long flags, unsigned long lockTimeout) {
    Device_GenericParms parms{lid, flags, lockTimeout, 2000};
    Device_ReadStbResp result{};
    if (!Call(client_, device_readstb, xdr_Device_GenericParms, parms, xdr_Device_ReadStbResp, result)) return {-1, 0};
    return {result.error, result.stb};
}

long CoreClient::Generic(unsigned long procedure, long lid, long flags, unsigned long lockTimeout, unsigned long ioTimeout) {
    Device_GenericParms parms{lid, flags, lockTimeout, ioTimeout};
    return ErrorOf(client_, procedure, xdr_Device_GenericParms, parms);
}

long CoreClient::Lock(long lid, long flags, unsigned long lockTimeout) {
    Device_LockParms parms{lid, flags, lockTimeout};
    return ErrorOf(client_, device_lock, xdr_Device_LockParms, parms);
}

long CoreClient::OnLink(unsigned long procedure, long lid) {
    Device_Link link = lid;
    return ErrorOf(client_, procedure, xdr_Device_Link, link);
}

long CoreClient::EnableSrq(long lid) {
    Device_EnableSrqParms parms{};
    parms.lid = lid;
    parms.enable = TRUE;
    return ErrorOf(client_, device_enable_srq, xdr_Device_EnableSrqParms, parms);
}

long CoreClient::Docmd(long lid) {
    Device_DocmdParms parms{};
    parms.lid = lid;
    parms.cmd = 0x20000;
    Device_DocmdResp result{};
    if (!Call(client_, device_docmd, xdr_Device_DocmdParms, parms, xdr_Device_DocmdResp, result)) return -1;
    const long error = result.error;
    clnt_freeres(client_, reinterpret_cast<xdrproc_t>(xdr_Device_DocmdResp), reinterpret_cast<char*>(&result));
    return error;
}

long CoreClient::CreateInterruptChannel() {
    Device_RemoteFunc parms{0x7F000001, 1234, DEVICE_INTR, DEVICE_INTR_VERSION, DEVICE_TCP};
    return ErrorOf(client_, create_intr_chan, xdr_Device_RemoteFunc, parms);
}

long CoreClient::DestroyInterruptChannel() {
    Nothing nothing;
    return ErrorOf(client_, destroy_intr_chan, EncodeNothing, nothing);
}

}  // namespace tarnel::vxi11::test
