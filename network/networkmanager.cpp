// The network manager's life cycle, its frame, the map start ("map", "dedicated"), "connect" and
// "disconnect", and its registration with the common manager (start-up bit 0x2000).
#include "network/networkmanager.h"

#include <cstdio>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/commonsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/keybindsystem.h"
#include "lib/interface/managerfactory.h"
#include "lib/interface/userinterfacesystem.h"
#include "lib/str.h"
#include "platform/clock.h"
#include "platform/net.h"

namespace {

constexpr int kShutdownTime = 0x70000000;

// The main menu, as the engine core opens it on a typed "disconnect".
void openMainMenu() {
  if (!g_gameInterface)
    return;
  if (g_uiSystem)
    g_uiSystem->freeGui(g_activeGui);
  g_activeGui = nullptr;
  UserInterface* gui = nullptr;
  if (g_gameInterface->getMenu(&gui) == 1)
    gui = g_uiSystem ? g_uiSystem->findGui("guis/mainmenu.gui", true, false) : nullptr;
  if (!gui)
    return;
  g_activeGui = gui;
  g_gameInterface->setMenu(gui);
  gui->activate(true, int(platformMilliseconds()));
}

// The main menu after a disconnect: opened with the game's input mode, then the console's bit of
// the mode before is kept.
void openMenuAfterDisconnect() {
  const int mode = g_keyBindSystem ? g_keyBindSystem->getMode() : 0;
  if (g_keyBindSystem)
    g_keyBindSystem->setMode(4);
  openMainMenu();
  if (g_keyBindSystem)
    g_keyBindSystem->setMode((mode & 1) | g_keyBindSystem->getMode());
}

// The server information (every variable with flag 0x400).
KeyDict serverInfo() {
  KeyDict dict;
  if (g_conVarSystem) {
    const KeyDict* exported = g_conVarSystem->exportToDict(0x400);
    if (exported)
      dict = *exported;
  }
  return dict;
}

// "map" and "dedicated" share the steps before the server starts.
void prepareMapChange(KeyDict* dict) {
  if (g_uiSystem)
    g_uiSystem->freeGui(g_activeGui);
  g_activeGui = nullptr;
  if (g_gameInterface)
    g_gameInterface->mapUnloaded();
  *dict = serverInfo();
  if (g_gameInterface)
    g_gameInterface->setServerInfo(dict);
}

}  // namespace

NetworkManager::NetworkManager() {
  channel.reset();
  localClientNumber = -999;
  clientState = kClientNone;
  if (g_cmdSystem) {
    g_cmdSystem->addCommand("map", NETLoadMap, 2, "loads a new map");
    g_cmdSystem->addCommand("disconnect", cmdDisconnect, 2, "unloads the map");
    g_cmdSystem->addCommand("connect", cmdConnect, 2, "connects to a server");
    g_cmdSystem->addCommand("dedicated", cmdDedicated, 2, "starts a networked server on a map");
  }
}

NetworkManager::~NetworkManager() {
  if (g_networkManager == this) {
    CmdArgs none;
    cmdDisconnect(none);
  } else {
    disconnect();
  }
}

bool NetworkManager::init() {
  if (winsockInitialised)
    return true;
  channel.reset();
  for (ClientSlot& slot : clients) {
    slot.state = kSlotFree;
    slot.channel.reset();
    slot.userInfo.clear();
  }
  time = 0;
  frameCount = 0;
  winsockInitialised = true;
  cmdPrintf("--------- Network ----------\n");
  cmdPrintf("Sockets initialized\n");
  getLocalAddresses();
  if (g_conVarSystem) {
    g_conVarSystem->setString("net_localip", localAddressCount > 0 ? localAddressText[0] : "");
    g_conVarSystem->setInt("net_port", NetAddress::kDefaultPort);
  }
  return true;
}

void NetworkManager::cleanupWinsock() {
  winsockInitialised = false;
  disconnect();
}

void NetworkManager::frame(int msec) {
  ++frameCount;
  time += msec;
  packetsThisFrame = 0;
  if (localClientNumber >= 0 && localClientNumber < kMaxClients) {
    UserCmd cmd = {};
    if (g_keyBindSystem)
      g_keyBindSystem->getUserCmd(&cmd, time, frameCount);
    userCmds[localClientNumber] = cmd;
  }
  if (!socket)
    return;
  if (serverFlag && networkFlag) {
    if (time > kShutdownTime) {
      serverShutdown();
      return;
    }
    serverCheckTimeouts();
    serverSendMessages();
  } else if (networkFlag) {
    // A session the server ended, or that timed out, leaves the server's map: back to the menu,
    // as a typed "disconnect" does.
    if (clientState == kClientDisconnected) {
      if (!clientEndQueued) {
        clientEndQueued = true;
        cmdPrintf("The connection to %s has ended.\n", NetAddress::toString(serverAddress));
        disconnect();
        if (g_commonSystem)
          g_commonSystem->unloadMap();
        openMenuAfterDisconnect();
      }
      return;
    }
    // The client's driver: handshake resends, time-out, then commands at the packet rate.
    clientCheckForResend();
    clientCheckTimeout();
    clientFrame();
  }
}

void NetworkManager::packetEvent(const NetAddress& from, BitMsg& msg) {
  if (serverFlag)
    serverPacketEvent(from, msg);
  else
    clientPacketEvent(from, msg);
}

bool NetworkManager::spawnServer(const KeyDict& dict, bool newServerFlag, bool newNetworkFlag) {
  KeyDict info = dict;  // disconnect may change what the caller's dictionary came from
  disconnect();
  serverFlag = newServerFlag;
  networkFlag = newNetworkFlag;
  serverId = firstServerId = NetChannel::clockMs();
  if (g_conVarSystem)
    g_conVarSystem->setInt("si_serverId", serverId);
  serverInfo = info;
  if ((serverFlag || networkFlag) && !openSocket())
    return false;
  if (!g_commonSystem || !g_commonSystem->loadMap(info.getString("si_map", ""), serverFlag, networkFlag))
    return false;
  if ((serverFlag || networkFlag) && g_gameInterface)
    g_gameInterface->setServerInfo(&info);
  int dedicated = 0;
  info.getInt("dedicated", "0", dedicated);
  if (!serverFlag && !networkFlag) {
    localClientNumber = 0;
    if (g_gameInterface) {
      g_gameInterface->serverStarted(0);
      g_gameInterface->setLocalClientNum(0);
    }
  } else if (!serverFlag || dedicated != 0) {
    localClientNumber = -999;
    if (g_gameInterface)
      g_gameInterface->serverStarted(-1);
  } else {
    localClientNumber = 0;
    if (g_gameInterface)
      g_gameInterface->serverStarted(0);
    // The local player joins its own server in-process: nothing goes over the wire.
    ChallengeRecord* entry = serverGetChallenge(ownAddress);
    KeyDict user;
    if (g_conVarSystem) {
      const KeyDict* exported = g_conVarSystem->exportToDict(0x200);
      if (exported)
        user = *exported;
    }
    char number[16];
    std::snprintf(number, sizeof(number), "%i", kProtocolVersion);
    user.set("protocol", number);
    std::snprintf(number, sizeof(number), "%i", g_conVarSystem ? g_conVarSystem->getInt("net_port") : 0);
    user.set("intport", number);
    std::snprintf(number, sizeof(number), "%i", entry ? entry->challenge : 0);
    user.set("challenge", number);
    uint8_t buffer[NetChannel::kPacketBufferSize];
    BitMsg msg(buffer, sizeof(buffer));
    msg.writeKeyDict(user);
    BitMsg reader;
    reader.initRead(buffer, msg.getSize());
    serverDirectConnect(ownAddress, reader);
  }
  return true;
}

void NetworkManager::disconnect() {
  if (g_gameInterface)
    g_gameInterface->mapUnloaded();
  if (networkFlag && clientState > kClientConnecting)
    clientDisconnect();
  for (int i = kMaxClients - 1; i >= 0; --i) {
    ClientSlot& slot = clients[i];
    if (slot.state >= kSlotConnected) {
      slot.userInfo.clear();
      slot.state = kSlotZombie;
      if (g_gameInterface)
        g_gameInterface->clientDisconnected(i);
    }
  }
  for (ClientSlot& slot : clients) {
    slot.state = kSlotFree;
    slot.channel.reset();
  }
  for (ChallengeRecord& entry : challenges)
    entry.connected = false;
  if (socket) {
    clientState = kClientDisconnected;
    platformUdpClose(socket);
    socket = 0;
    channel.reset();
  }
  localClientNumber = -999;
  serverFlag = false;
  networkFlag = false;
  serverInfo.clear();
  clientEndQueued = false;
  if (g_commonSystem)
    g_commonSystem->unloadMap();
}

void NetworkManager::serverShutdown() {
  if (!serverFlag)
    return;
  cmdPrintf("----- Server Shutdown -----\n");
  disconnect();
  cmdPrintf("---------------------------\n");
}

void NetworkManager::unloadMap() {
  KeyDict dict;
  prepareMapChange(&dict);
  spawnServer(dict, true, false);
}

NetworkManager* getNetworkManager() {
  if (!g_networkManager) {
    g_networkManager = new NetworkManager;
    g_networkSystem = g_networkManager;
  }
  return g_networkManager;
}

void shutdownNetworkSystem() {
  if (!g_networkManager)
    return;
  g_networkManager->cleanupWinsock();
  NetworkManager* manager = g_networkManager;
  delete manager;
  g_networkManager = nullptr;
  g_networkSystem = nullptr;
}

namespace {

// "map" and "dedicated": the server starts on the map they name; when it cannot, the warning
// ("could not ... '<map>'") and a disconnect.
void startServerOnMap(const char* map, bool dedicated, const char* failure) {
  KeyDict dict;
  prepareMapChange(&dict);
  if (g_conVarSystem)
    g_conVarSystem->setString("si_map", map);
  dict.set("si_map", map);
  if (dedicated)
    dict.set("dedicated", "1");
  if (!g_networkManager->spawnServer(dict, dedicated, dedicated)) {
    cmdPrintf("WARNING: %s '%s'\n", failure, map);
    CmdArgs none;
    cmdDisconnect(none);
  }
}

}  // namespace

void NETLoadMap(const CmdArgs& args) {
  if (!g_gameInterface || !g_networkManager)
    return;
  if (args.argc() != 2) {
    if (g_cmdSystem)
      g_cmdSystem->printf("NETLoadMap: invalid number of arguments\n");
    return;
  }
  startServerOnMap(args.argv(1), false, "could not load map");
}

void cmdDedicated(const CmdArgs& args) {
  if (!g_gameInterface || !g_networkManager)
    return;
  if (args.argc() != 2) {
    if (g_cmdSystem)
      g_cmdSystem->printf("usage: dedicated <map>\n");
    return;
  }
  startServerOnMap(args.argv(1), true, "could not start a server on map");
}

void cmdConnect(const CmdArgs& args) {
  if (g_networkManager)
    g_networkManager->connectToServer(args);
}

void cmdDisconnect(const CmdArgs& args) {
  if (g_networkManager)
    g_networkManager->disconnect();
  if (g_commonSystem)
    g_commonSystem->unloadMap();
  if (args.argc() < 1)
    return;
  const char* word = args.argv(0);
  if (String::icmp(word, "map") == 0 || String::icmp(word, "connect") == 0 ||
      String::icmp(word, "reconnect") == 0)
    return;
  openMenuAfterDisconnect();
}

namespace {

bool createNetwork() {
  NetworkManager* manager = getNetworkManager();
  return manager->init();
}

void destroyNetwork() {
  shutdownNetworkSystem();
}

const RegisterManagerFactory s_registerNetwork(kManagerNetwork, createNetwork, nullptr, destroyNetwork);

}  // namespace
