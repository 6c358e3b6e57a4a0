// The system manager: the event ring (overflow, wrap, ownership of packet
// data), the module table, osPath, the error text and the processor flags.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "lib/interface/networksystem.h"
#include "network/bitmsg.h"
#include "platform/clock.h"
#include "system/systemmanager.h"

namespace {

// Packet data blocks as the queue frees them. Whatever the queue fails to
// free, LeakSanitizer reports at the end of the run.
uint8_t* newBlock(size_t size) {
  return new uint8_t[size];
}

class SystemManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { getSystemManager(); }
  void TearDown() override { destroySystemManager(); }
};

TEST_F(SystemManagerTest, AFullRingDropsTheOldestEvent) {
  for (int i = 0; i < 257; ++i)
    queueSystemEvent(kSystemEventKey, i, 1, 0, nullptr);
  SystemEvent event = g_systemInterface->getEvent();
  EXPECT_EQ(event.type, kSystemEventKey);
  EXPECT_EQ(event.value, 1) << "event 0 was dropped";
  int count = 1;
  while (g_systemInterface->getEvent().type != kSystemEventNone)
    ++count;
  EXPECT_EQ(count, 256);
}

TEST_F(SystemManagerTest, CountersKeepWorkingAcrossTheirWrap) {
  SystemEventQueue queue;
  queue.setCounters(0xFFFFFFF0u);
  for (int i = 0; i < 300; ++i) {
    SystemEvent event;
    event.type = kSystemEventChar;
    event.value = i;
    queue.queue(event);
  }
  EXPECT_EQ(queue.pending(), 256u);
  SystemEvent event;
  ASSERT_TRUE(queue.take(&event));
  EXPECT_EQ(event.value, 44);
  int last = event.value;
  while (queue.take(&event))
    last = event.value;
  EXPECT_EQ(last, 299);
  EXPECT_EQ(queue.pending(), 0u);
}

TEST_F(SystemManagerTest, DroppedAndClearedEventsFreeTheirData) {
  SystemEventQueue queue;
  for (int i = 0; i < 300; ++i) {
    SystemEvent event;
    event.type = kSystemEventPacket;
    event.dataLength = 16;
    event.data = newBlock(16);
    queue.queue(event);
  }
  EXPECT_EQ(queue.pending(), 256u);
  SystemEvent taken;
  ASSERT_TRUE(queue.take(&taken));
  freeSystemEventData(taken.data);
  queue.clear();
  EXPECT_EQ(queue.pending(), 0u);
  EXPECT_FALSE(queue.take(&taken));
}

TEST(SystemEventsWithoutManager, AreDroppedAndTheirDataFreed) {
  ASSERT_EQ(g_systemInterface, nullptr);
  queueSystemEvent(kSystemEventPacket, 0, 0, 8, newBlock(8));
  getSystemManager();
  EXPECT_EQ(g_systemInterface->getEvent().type, kSystemEventNone);
  destroySystemManager();
}

class FakeNetwork : public NetworkSystem {
 public:
  void frame(int) override {}
  const UserCmd* getUserCmds() override { return nullptr; }
  int getTime() override { return 0; }
  bool getPacket(BitMsg& msg, NetAddress& from) override {
    if (packets == 0)
      return false;
    --packets;
    const char payload[] = "hello";
    std::memcpy(msg.getData(), payload, sizeof(payload));
    msg.setWriteBit(int(sizeof(payload)) * 8);
    from.ip[0] = 10;
    from.ip[1] = 0;
    from.ip[2] = 0;
    from.ip[3] = 7;
    from.port = 0x6D1B;
    return msg.getMaxSize() >= 6;
  }
  void packetEvent(const NetAddress&, BitMsg&) override {}
  int packets = 0;
};

TEST_F(SystemManagerTest, AnEmptyQueuePollsTheNetworkForAPacketEvent) {
  FakeNetwork network;
  g_networkSystem = &network;
  EXPECT_EQ(g_systemInterface->getEvent().type, kSystemEventNone) << "no packet waiting";
  network.packets = 1;
  queueSystemEvent(kSystemEventKey, 'a', 1, 0, nullptr);
  EXPECT_EQ(g_systemInterface->getEvent().type, kSystemEventKey) << "queued events come before packets";
  SystemEvent event = g_systemInterface->getEvent();
  g_networkSystem = nullptr;
  ASSERT_EQ(event.type, kSystemEventPacket);
  ASSERT_EQ(event.dataLength, 12);
  const uint8_t* data = static_cast<const uint8_t*>(event.data);
  EXPECT_EQ(data[0], 10);
  EXPECT_EQ(data[3], 7);
  EXPECT_EQ(data[4] | (data[5] << 8), 0x6D1B);
  EXPECT_STREQ(reinterpret_cast<const char*>(data + 6), "hello");
  freeSystemEventData(event.data);
}

TEST_F(SystemManagerTest, MouseEventsAreFilledAsTheEngineExpects) {
  SystemEvent event;
  event.data = &event;
  g_systemInterface->makeMouseButtonEvent(&event, 2, 0x101);
  EXPECT_EQ(event.type, kSystemEventKey);
  EXPECT_EQ(event.value, 180);
  EXPECT_EQ(event.value2, 1) << "only the low byte of down";
  EXPECT_EQ(event.data, nullptr);
  g_systemInterface->makeMouseMoveEvent(&event, -3, 5);
  EXPECT_EQ(event.type, kSystemEventMouse);
  EXPECT_EQ(event.value, -3);
  EXPECT_EQ(event.value2, 5);
}

TEST_F(SystemManagerTest, ModuleTableLoadsLooksUpAndFrees) {
  SystemInterface* system = g_systemInterface;
  int index = system->loadLibrary(QUILL_TEST_NOAPI_MODULE);
  ASSERT_EQ(index, 0);
  auto answer = reinterpret_cast<int (*)()>(system->getProcAddress(index, "testModuleAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(system->getProcAddress(index, "GetGameAPI"), nullptr);
  EXPECT_EQ(system->getProcAddress(index, nullptr), nullptr);
  EXPECT_EQ(system->getProcAddress(8, "testModuleAnswer"), nullptr) << "empty last entry";
  EXPECT_EQ(system->getProcAddress(9, "testModuleAnswer"), nullptr) << "past the table";
  EXPECT_EQ(system->getProcAddress(-1, "testModuleAnswer"), nullptr);
  EXPECT_EQ(system->getProcAddress(1, "testModuleAnswer"), nullptr) << "empty entry";
  system->lastErrorText();
  system->freeLibrary(index);
  system->freeLibrary(index);
  system->freeLibrary(9);
  EXPECT_EQ(system->loadLibrary(QUILL_TEST_NOAPI_MODULE), 0) << "the freed entry is reused";
  ASSERT_EQ(SystemManager::kMaxModules, 9);
  for (int i = 1; i < SystemManager::kMaxModules; ++i)
    EXPECT_EQ(system->loadLibrary(QUILL_TEST_NOAPI_MODULE), i);
  EXPECT_NE(system->getProcAddress(8, "testModuleAnswer"), nullptr) << "index 8 is a real entry";
  EXPECT_EQ(system->loadLibrary(QUILL_TEST_NOAPI_MODULE), -1) << "the table holds nine modules";
}

TEST_F(SystemManagerTest, AFailedLoadLeavesItsReasonInTheErrorText) {
  EXPECT_STREQ(g_systemInterface->lastErrorText(), "");
  EXPECT_EQ(g_systemInterface->loadLibrary("/nonexistent/folder/game.dll"), -1);
  std::string text = g_systemInterface->lastErrorText();
  EXPECT_EQ(text.rfind("error code[", 0), 0u) << text;
  EXPECT_NE(text.find("game.so"), std::string::npos) << "the .dll name loads the .so: " << text;
  EXPECT_EQ(text.back(), '\n');
  EXPECT_STREQ(g_systemInterface->lastErrorText(), "") << "reading the errors clears them";
}

TEST_F(SystemManagerTest, OsPathRespectsTheCallersSize) {
  char buffer[8];
  std::memset(buffer, '#', sizeof(buffer));
  g_systemInterface->osPath("game.dll", buffer, 0);
  EXPECT_EQ(buffer[0], '#') << "size 0 writes nothing";
  g_systemInterface->osPath("game.dll", buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "") << "no file system: an empty path";
}

TEST(CpuFlags, VendorAndFeatureBitsFollowTheTable) {
  const uint32_t mmx = 1u << 23, sse = 1u << 25, sse2 = 1u << 26, ht = 1u << 28, cmov = 1u << 15;
  struct Case {
    const char* vendor;
    uint32_t edx;
    uint32_t flags;
  } cases[] = {
      {"GenuineIntel", mmx | sse | sse2 | ht | cmov, 0x4 | 0x10 | 0x40 | 0x80 | 0x1000 | 0x2000},
      {"AuthenticAMD", mmx | ht, 0x8 | 0x10},
      {"AMD ISBETTER", ht | sse, 0x8 | 0x40},
      {"CyrixInstead", mmx, 0x2 | 0x10},
      {"", 0, 0x2},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SystemManager::cpuFlagsFor(c.vendor, c.edx), c.flags) << c.vendor;
}

TEST_F(SystemManagerTest, ReportsThisProcessorAndATimer) {
  EXPECT_EQ(std::strlen(g_systemInterface->cpuVendor()), 12u);
  EXPECT_NE(g_systemInterface->cpuFlags() & (kCpuIntel | kCpuAmd | kCpuOtherVendor), 0u);
  EXPECT_GT(g_systemInterface->performanceFrequency(), 0.0);
  double a = g_systemInterface->performanceCounter();
  double b = g_systemInterface->performanceCounter();
  EXPECT_LE(a, b);
}

TEST(Milliseconds, CountFromTheFirstCallAndFollowTheClock) {
  uint32_t first = getMilliseconds();
  EXPECT_LT(first, 1000u) << "the clock starts at its first use";
  platformSleepMilliseconds(20);
  uint32_t later = getMilliseconds();
  EXPECT_GE(later - first, 19u);
}

}  // namespace
