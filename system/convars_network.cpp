// Console variables of the network manager, kept here until their readers land beside them.
#include "lib/interface/convarsystem.h"

// clang-format off
static ConVar net_localip("net_localip", "", 0x10000, "local IP address");
static ConVar net_port("net_port", "0", 0x10002, "server's port");
static ConVar net_sv_reconnectlimit("net_sv_reconnectlimit", "3", 0x2);
static ConVar net_sv_minPing("net_sv_minPing", "0", 0x2, "reject low ping connections");
static ConVar net_cl_timeout("net_cl_timeout", "200", 0x2);
static ConVar net_cl_maxpackets("net_cl_maxpackets", "30", 0x2, "", 15.0f, 125.0f);
static ConVar net_cl_packetdup("net_cl_packetdup", "1", 0x2, "", 0.0f, 5.0f);
// clang-format on
