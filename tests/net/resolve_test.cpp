#include "net/resolve.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vlt::net {
namespace {

struct HostCase {
    const char* name;
    std::string host;
    std::uint32_t address;  // host byte order; 0 = not resolved
};

// An address in network byte order, as a number.
std::uint32_t host_order(std::uint32_t network) {
    unsigned char bytes[4];
    std::memcpy(bytes, &network, sizeof bytes);
    return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
           static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
}

class ResolveHost : public ::testing::TestWithParam<HostCase> {};

TEST_P(ResolveHost, GivesTheFirstIpv4Address) {
    EXPECT_EQ(host_order(resolve_host(GetParam().host).address), GetParam().address);
}

INSTANTIATE_TEST_SUITE_P(Hosts, ResolveHost,
                         ::testing::Values(HostCase{"DottedText", "127.0.0.1", 0x7f000001},
                                           HostCase{"ShortDottedText", "127.1", 0x7f000001},
                                           HostCase{"OtherDottedText", "10.20.30.40", 0x0a141e28},
                                           HostCase{"HostName", "localhost", 0x7f000001},
                                           HostCase{"UnknownName", "no-such-host.invalid", 0},
                                           HostCase{"EmbeddedNul", std::string("localhost\0x", 11),
                                                    0}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(ResolveHost, AnUnknownNameCarriesTheResolverCode) {
    const Resolved r = resolve_host("no-such-host.invalid");
    EXPECT_EQ(r.address, 0u);
    EXPECT_GE(r.error_code, 11001);
    EXPECT_LE(r.error_code, 11004);
}

struct PortCase {
    const char* name;
    std::string text;
    int port;  // 0 = refused
};

class ParsePort : public ::testing::TestWithParam<PortCase> {};

TEST_P(ParsePort, ReadsTheLeadingDigits) {
    const auto port = parse_port(GetParam().text);
    EXPECT_EQ(port.has_value() ? *port : 0, GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Ports, ParsePort,
    ::testing::Values(PortCase{"Plain", "25", 25}, PortCase{"TrailingLetters", "25abc", 25},
                      PortCase{"LeadingZeros", "00587", 587}, PortCase{"Highest", "65535", 65535},
                      PortCase{"AboveSigned16Bits", "40000", 40000}, PortCase{"NoDigits", "abc", 0},
                      PortCase{"Empty", "", 0}, PortCase{"Zero", "0", 0},
                      PortCase{"OneTooHigh", "65536", 0}, PortCase{"FarTooHigh", "70000", 0},
                      PortCase{"WouldOverflow", "99999999999999999999925", 0},
                      PortCase{"SignFirst", "+25", 0}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace vlt::net
