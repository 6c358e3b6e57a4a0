// The sample game's networked play: on a server, one walking player per connected client, moved by
// that client's user commands and written into every snapshot; on a client of a networked server,
// the local view follows its own player in the snapshots and the other players stand as pillars.
#pragma once

struct GameImports;
struct UserCmd;
struct Vec3;
class BitMsg;
class TraceModel;

namespace netplay {

void setImports(const GameImports* imports);

// The local player of this engine: -1 when there is none (a dedicated server).
void serverStarted(int localClient);
// A map was loaded with these flags (a network flag without the server flag: a client).
void mapLoaded(const Vec3& start, float startYaw, bool serverFlag, bool networkFlag);
// The engine frees every render entity when a map goes: the pillars' handles are forgotten.
void mapUnloaded();
// Whether the game moves its own view from the local user command: not on a client of another
// server (the snapshots place it) nor on a server without a local player.
bool localPlayerWalks();

// Server side.
void clientConnected(int clientNum);
void clientDisconnected(int clientNum);
void clientGameState(int clientNum);
// Moves every remote player by its command; `box` is the players' collision box.
void runFrame(const UserCmd* commands, const TraceModel& box);
void writeSnapshot(int clientNum, BitMsg* msg);

// Client side: the snapshot places the view (origin, yaw, pitch) and the other players.
void clientReadSnapshot(BitMsg* msg, Vec3* viewOrigin, float* viewYaw, float* viewPitch);
void clientReadGameMessage(BitMsg* msg);

// "demo_status": where each networked player stands.
void printStatus();

}  // namespace netplay
