// NetworkManager: the one object of the network subsystem. At once the server of up to 32
// clients and a client of one server over one UDP socket; keeps the network clock and the user
// commands of each step, starts a local game on "map" and ends it on "disconnect".
//
// Sections of networkmanager.cpp: manager and console commands; netserver.cpp: server side;
// netclient.cpp: client side; netaddress.cpp: addresses, socket and connectionless packets.
#pragma once

#include <cstdint>

#include "lib/interface/networksystem.h"
#include "lib/interface/usercmd.h"
#include "lib/keydict.h"
#include "network/bitmsg.h"
#include "network/netchannel.h"

class CmdArgs;

enum ClientSlotState {
  kSlotFree = 0,
  kSlotZombie = 1,  // dropped; freed 2000 ms after its last packet
  kSlotConnected = 2,
  kSlotGamestate = 3,  // gamestate sent
  kSlotActive = 4,     // the client named the current server id: it has the gamestate
};

struct ClientSlot {
  int32_t state = kSlotFree;
  NetChannel channel;
  KeyDict userInfo;
  int32_t gamestateMessage = -1;
  int32_t nextSendTime = 0;
  int32_t snapshotNumber = 0;
  int32_t lastConnectTime = 0;
  int32_t spare = -1;
  int32_t challenge = 0;
  int32_t timeoutCount = 0;
  int32_t snapshotWord = 0;
  // Network time of the last gamestate sent, so a lost one is sent again at most once a second.
  int32_t gamestateTime = 0;
};

struct ChallengeRecord {
  NetAddress address;
  int32_t challenge = 0;
  int32_t time = 0;
  int32_t pingTime = 0;
  int32_t firstTime = 0;
  bool connected = false;
};

// Client states.
enum {
  kClientNone = 0,
  kClientDisconnected = 1,
  kClientChallenging = 3,
  kClientConnecting = 4,
  kClientConnected = 5,  // waiting for the gamestate
  kClientActive = 7,     // has the gamestate: sends commands at the packet rate
  kClientSilent = 9,     // sends nothing
};

// Message types: the first byte of each part of an in-game message.
enum NetMessageType : int {
  kMsgGamestate = 2,     // server -> client: the gamestate, with the reliable block
  kMsgUserCmds = 2,      // client -> server: the user commands
  kMsgGameMessage = 3,   // reliable game message
  kMsgReliableText = 4,  // reliable command text
  kMsgSnapshot = 5,      // server -> client: a snapshot, with the reliable block
  kMsgClientEnd = 5,     // client -> server: ends the block and the commands
  kMsgServerEnd = 6,     // server -> client: ends the message
};

class NetworkManager : public NetworkSystem, public PacketSender {
 public:
  static constexpr int kMaxClients = 32;
  static constexpr int kChallengeCount = 1024;
  static constexpr int kProtocolVersion = 15;
  static constexpr int kUserCmdRing = 64;
  static constexpr int kPacketRecords = 32;
  static constexpr int kMaxConnectPairs = 64;
  static constexpr int kMaxLocalAddresses = 5;
  // Rate limit of the console lines that connectionless packets cause.
  static constexpr int kLogLinesPerAddress = 4;
  static constexpr int kLogLinesPerSecond = 32;
  static constexpr int kDefaultPacketsPerFrame = 512;
  // Handshake requests ("getchallenge", "connect") a host may make a second, and the slots it
  // may hold.
  static constexpr int kDefaultRequestsPerAddress = 10;
  static constexpr int kDefaultClientsPerAddress = 8;
  // A challenge this young is not handed to another asker.
  static constexpr int kChallengeKeepTime = 5000;

  NetworkManager();
  ~NetworkManager() override;
  NetworkManager(const NetworkManager&) = delete;
  NetworkManager& operator=(const NetworkManager&) = delete;

  // --- NetworkSystem
  void frame(int milliseconds) override;
  bool serverSendGameMessage(int client, const BitMsg& msg) override;
  void serverSendGameMessageExcept(int client, const BitMsg& msg) override;
  int getClientPacketInterval(int client) override;
  int getClientNextSendTime(int client) override;
  int getClientLastReceiveOffset(int client) override;
  bool clientSendGameMessage(const BitMsg& msg) override;
  int getLocalNextSendTime() override;
  int getLocalTimeSinceReceive() override;
  const UserCmd* getUserCmds() override { return userCmds; }
  int getTime() override { return time; }
  bool getPacket(BitMsg& msg, NetAddress& from) override;
  void packetEvent(const NetAddress& from, BitMsg& msg) override;

  // --- PacketSender
  void sendPacket(int length, const void* bytes, const NetAddress& to) override;

  // --- manager
  bool init();
  void cleanupWinsock();
  int getFrameCount() const { return frameCount; }
  const UserCmd* getLocalUserCmd() const;
  bool spawnServer(const KeyDict& dict, bool serverFlag, bool networkFlag);
  void disconnect();
  void serverShutdown();
  void unloadMap();

  // --- addresses, socket, connectionless packets
  void getLocalAddresses();
  static const char* errorString();
  void sendMessage(const BitMsg& msg, const NetAddress& to);
  void sendOOB(const NetAddress& to, const BitMsg& msg);
  void sendOOBPrint(const NetAddress& to, const char* format, ...) __attribute__((format(printf, 3, 4)));
  bool openSocket();
  // Null when every entry is held (a flood): nothing is answered.
  ChallengeRecord* serverGetChallenge(const NetAddress& from);
  // The host's handshake requests within this second stay under "net_sv_maxRequestsPerAddress".
  bool allowHandshakeRequest(const NetAddress& from);
  void serverConnectionlessPacket(const NetAddress& from, BitMsg& msg);
  void clientConnectionlessPacket(const NetAddress& from, BitMsg& msg);
  // A packet is connectionless when it starts with all four marker bytes.
  static bool isConnectionless(const BitMsg& msg);

  // --- server side
  void serverPacketEvent(const NetAddress& from, BitMsg& msg);
  void serverDirectConnect(const NetAddress& from, BitMsg& msg);
  void serverParseClientMessage(int slot, BitMsg& msg);
  bool serverClientCommand(int slot, BitMsg& msg);
  bool serverExecuteClientCommand(int slot, const char* text, bool fromReliable);
  void serverSendClientGameState(int slot);
  void serverSendSnapshot(int slot);
  void serverTransmitMessage(BitMsg& msg, int slot);
  void serverSendMessages();
  void serverSendReliableCommand(int slot, const char* format, ...) __attribute__((format(printf, 3, 4)));
  bool slotSendReliableString(int slot, const char* text);
  void serverDropClient(int slot, const char* reason);
  void serverFreeClient(int number);
  void serverCheckTimeouts();

  // --- client side
  bool connectToServer(const CmdArgs& args);
  void clientFrame();
  void clientCreateCmd();
  bool clientReadyToSend();
  void clientSendCmd();
  void clientCheckForResend();
  void clientCheckTimeout();
  void clientPacketEvent(const NetAddress& from, BitMsg& msg);
  void clientParseServerMessage(BitMsg& msg);
  void clientDisconnect();
  // Loads the server's map ("si_map") and hands the gamestate to the game; false when the map
  // cannot be loaded (the session ends).
  bool clientEnterGame(const KeyDict& info);
  void clientServerDisconnected(const NetAddress& from);
  bool clientSendReliableString(const char* text);

  // Fields, in the order the manager keeps them.
  int32_t time = 0;
  int32_t frameCount = 0;
  int socket = 0;
  ClientSlot clients[kMaxClients];
  ChallengeRecord challenges[kChallengeCount];
  int32_t firstServerId = 0;
  int32_t serverId = 0;

  int32_t clientState = kClientNone;
  NetAddress serverAddress;
  int32_t connectAttempts = 0;
  int32_t lastResendTime = 0;
  int32_t challenge = 0;
  int32_t serverMessageNumber = 0;
  int32_t lastSendTime = 0;
  UserCmd userCmdRing[kUserCmdRing] = {};
  int32_t userCmdNumber = 0;
  int32_t duplicateCount = 0;
  struct PacketRecord {
    int32_t commandNumber;
    int32_t frame;
    int32_t time;
  } packetRecords[kPacketRecords] = {};
  int32_t timeoutCount = 0;
  NetChannel channel;

  NetAddress ownAddress;
  UserCmd userCmds[kMaxClients] = {};
  bool winsockInitialised = false;
  bool serverFlag = false;
  bool networkFlag = false;
  int32_t localClientNumber = -999;

  // Local addresses recorded at start-up.
  char hostName[256] = {};
  int localAddressCount = 0;
  uint8_t localAddresses[kMaxLocalAddresses][4] = {};
  char localAddressText[kMaxLocalAddresses][16] = {};

  // Packets read since the last game step ("net_maxPacketsPerFrame" caps them).
  int packetsThisFrame = 0;
  // The dictionary the running server was started with ("si_map" among it).
  KeyDict serverInfo;
  // The client's session ended (dropped, timed out, refused): the next frame returns to the menu.
  bool clientEndQueued = false;

  // Counters for the tests and statistics: what the client took from the server.
  int32_t gamestatesReceived = 0;
  int32_t snapshotsReceived = 0;
  int32_t lastSnapshotNumber = -1;
  int32_t gameMessagesReceived = 0;

 private:
 public:
  struct LogRecord {
    NetAddress address;
    int count = 0;
  };
  bool allowConnectionlessLog(const NetAddress& from);
  struct RequestRecord {
    NetAddress address;
    int window = -1;
    int count = 0;
  };
  RequestRecord requestRecords_[256];
  LogRecord logRecords_[64];
  int logWindow_ = -1;
  int logLines_ = 0;
  int logSuppressed_ = 0;

  static bool serverReliableMessage(void* context, BitMsg& message);
  static bool clientReliableMessage(void* context, BitMsg& message);
  bool readConnectDict(BitMsg& msg, KeyDict& dict);
  void clientWriteMessage(BitMsg& msg, bool withCommands);
  int slotOf(const ClientSlot* slot) const { return int(slot - clients); }
  // The slot whose reliable block is being read, for the handler.
  int readingSlot_ = -1;
};

// The manager and its two process-wide pointers (the same object).
inline NetworkManager* g_networkManager = nullptr;
NetworkManager* getNetworkManager();
void shutdownNetworkSystem();

// The console commands ("map", "disconnect", "connect", "dedicated").
void NETLoadMap(const CmdArgs& args);
void cmdDisconnect(const CmdArgs& args);
void cmdConnect(const CmdArgs& args);
void cmdDedicated(const CmdArgs& args);

// Text from the wire made safe for the console (a static buffer, the next call overwrites it):
// control bytes and bytes above 0x7e as \xNN; newlines and tabs kept when asked.
const char* netEscapeText(const char* text, bool keepNewlines);

// Records the recorded local addresses for NetAddress::isLocal (the manager sets them at start-up;
// tests set their own).
void netSetLocalAddresses(const uint8_t (*addresses)[4], int count);
// Binds every socket opened from now on to this address instead (null: back to the usual
// choice). Test suites pin their sockets to 127.0.0.1 so nothing listens beyond loopback.
void netPinSockets(const uint8_t* ip);
