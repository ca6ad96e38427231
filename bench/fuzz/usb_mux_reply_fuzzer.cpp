// A reply of the USB multiplexer daemon, header and property list: parsing fails only with
// the client's own error, and the devices found survive being written back as a reply.
#include <cstdlib>

#include <plist/plist.h>

#include "capture/phonelink/usb_mux_connection.hpp"
#include "phone_fuzz_seeds.hpp"

using namespace yux;

namespace {

std::vector<std::uint8_t> xmlOf(plist_t dictionary) {
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(dictionary, &xml, &length);
    std::vector<std::uint8_t> bytes(xml, xml + length);
    plist_to_xml_free(xml);
    plist_free(dictionary);
    return bytes;
}

std::vector<std::uint8_t> listReply(const std::vector<USBMuxConnection::Device>& devices) {
    plist_t list = plist_new_array();
    for (const auto& device : devices) {
        plist_t properties = plist_new_dict();
        plist_dict_set_item(properties, "ConnectionType", plist_new_string("USB"));
        plist_dict_set_item(properties, "SerialNumber", plist_new_string(device.serial.c_str()));
        plist_t entry = plist_new_dict();
        plist_dict_set_item(entry, "DeviceID", plist_new_uint(static_cast<std::uint64_t>(device.id)));
        plist_dict_set_item(entry, "Properties", properties);
        plist_array_append_item(list, entry);
    }
    plist_t reply = plist_new_dict();
    plist_dict_set_item(reply, "DeviceList", list);
    return xmlOf(reply);
}

std::vector<std::uint8_t> withHeader(const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> bytes;
    const auto length = static_cast<std::uint32_t>(body.size() + 16);
    for (std::uint32_t value : {length, 1u, 8u, 1u}) {
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    plist_t result = plist_new_dict();
    plist_dict_set_item(result, "MessageType", plist_new_string("Result"));
    plist_dict_set_item(result, "Number", plist_new_uint(0));
    fuzz::writeSeedsIfAsked({withHeader(listReply({{3, "SERIAL-A"}, {7, "SERIAL-B"}})), withHeader(xmlOf(result))});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < USBMuxConnection::replyHeaderSize) {
        return 0;
    }
    const std::span<const std::uint8_t> bytes(data, size);
    try {
        const auto length = USBMuxConnection::replyLength(bytes.first<USBMuxConnection::replyHeaderSize>());
        if (length < USBMuxConnection::replyHeaderSize || length > USBMuxConnection::maximumReply) {
            std::abort();
        }
    } catch (const USBMuxError&) {
    }
    const auto body = bytes.subspan(USBMuxConnection::replyHeaderSize);
    try {
        (void)USBMuxConnection::connectAccepted(body);
        const auto devices = USBMuxConnection::devicesOfReply(body);
        bool writable = true;
        for (const auto& device : devices) {
            writable = writable && device.serial.find('\0') == std::string::npos;
        }
        if (writable && USBMuxConnection::devicesOfReply(listReply(devices)) != devices) {
            std::abort();
        }
    } catch (const USBMuxError&) {
    }
    return 0;
}
