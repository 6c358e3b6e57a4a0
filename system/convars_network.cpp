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
// The player's name, sent to the server in the connect dictionary and shown there on join.
static ConVar ui_name("ui_name", "Player", kConVarString | kConVarUserInfo | kConVarArchive, "player name");
// Server information, sent to every client with the gamestate.
static ConVar si_map("si_map", "", kConVarString | kConVarServerInfo, "map the server runs");
static ConVar si_maxPlayers("si_maxPlayers", "32", kConVarInt | kConVarServerInfo, "players the server admits", 1.0f,
                            32.0f);
static ConVar net_maxPacketsPerFrame("net_maxPacketsPerFrame", "512", kConVarInt, "packets read at most per game step",
                                      16.0f, 65536.0f);
static ConVar net_sv_maxRequestsPerAddress("net_sv_maxRequestsPerAddress", "10", kConVarInt,
                                            "challenge and connect requests a host may send a second (0: no limit)");
static ConVar net_sv_maxClientsPerAddress("net_sv_maxClientsPerAddress", "8", kConVarInt,
                                           "player slots one host may hold (0: no limit)", 0.0f, 32.0f);
// clang-format on
