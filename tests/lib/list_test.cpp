// List growth, element lifetimes and insertion; LinkList linking and head
// removal.
#include "lib/list.h"
#include "lib/str.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Counts live objects so that leaks, double destruction and construction
// into raw storage show up as a wrong count.
struct Tracked {
  static int live;
  static int constructed;
  int value;
  int* self;  // points at value while the object is alive

  Tracked() : Tracked(0) {}
  Tracked(int v) : value(v), self(&value) {  // NOLINT: implicit for brevity
    live++;
    constructed++;
  }
  Tracked(const Tracked& o) : value(o.checked()), self(&value) {
    live++;
    constructed++;
  }
  Tracked& operator=(const Tracked& o) {
    value = o.checked();
    checked();
    return *this;
  }
  ~Tracked() {
    checked();
    self = nullptr;
    live--;
  }
  int checked() const {
    // A destroyed or never-constructed object fails here.
    EXPECT_EQ(self, &value) << "use of an object that is not alive";
    return value;
  }
  bool operator==(const Tracked& o) const { return value == o.value; }
};
int Tracked::live = 0;
int Tracked::constructed = 0;

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Tracked::live = 0;
    Tracked::constructed = 0;
  }
  void TearDown() override { EXPECT_EQ(Tracked::live, 0) << "elements leaked or destroyed twice"; }
};

std::string values(const List<Tracked>& list) {
  std::string s;
  for (int i = 0; i < list.num(); i++) {
    s += std::to_string(list[i].checked());
    s += ' ';
  }
  return s;
}

}  // namespace

TEST_F(ListTest, GrowsInStepsOfTheGranularity) {
  struct Case {
    int granularity;
    int appends;
    int size;
  };
  const Case cases[] = {
      {16, 1, 16}, {16, 16, 16}, {16, 17, 32}, {16, 33, 48}, {4, 5, 8}, {0, 1, 16}, {0, 17, 32}, {1, 3, 3},
  };
  for (const Case& c : cases) {
    List<Tracked> list(c.granularity);
    for (int i = 0; i < c.appends; i++) {
      EXPECT_EQ(list.append(Tracked(i)), i);
    }
    EXPECT_EQ(list.num(), c.appends);
    EXPECT_EQ(list.size(), c.size) << "granularity " << c.granularity << ", " << c.appends << " appends";
    EXPECT_EQ(Tracked::live, c.appends) << "storage beyond num must hold no objects";
    for (int i = 0; i < c.appends; i++) {
      EXPECT_EQ(list[i].checked(), i);
    }
  }
}

TEST_F(ListTest, GrowthRoundsAnOddCapacityDownToTheGranularity) {
  List<Tracked> list;
  list.resize(10);
  for (int i = 0; i < 10; i++) {
    list.append(i);
  }
  EXPECT_EQ(list.size(), 10);
  list.append(10);
  EXPECT_EQ(list.size(), 16) << "10 + 16 rounds down to 16, not 26";
  list.resize(40);
  for (int i = 11; i <= 40; i++) {
    list.append(i);
  }
  EXPECT_EQ(list.size(), 48);
}

TEST_F(ListTest, AppendingItsOwnElementWhileFull) {
  List<Tracked> list(2);
  list.append(7);
  list.append(8);
  ASSERT_EQ(list.num(), list.size());
  list.append(list[0]);  // the reference points into storage the growth frees
  EXPECT_EQ(values(list), "7 8 7 ");

  List<String> names(1);
  names.append(String("a name long enough for the heap"));
  names.append(names[0]);
  names.append(names[1]);
  EXPECT_STREQ(names[2].c_str(), "a name long enough for the heap");
}

TEST_F(ListTest, InsertMovesLaterElementsUp) {
  struct Case {
    int index;
    const char* expected;
  };
  const Case cases[] = {
      {0, "9 0 1 2 "}, {1, "0 9 1 2 "}, {3, "0 1 2 9 "}, {-5, "9 0 1 2 "}, {99, "0 1 2 9 "}};
  for (int capacity : {3, 16}) {  // growing and not growing
    for (const Case& c : cases) {
      List<Tracked> list(capacity);
      for (int i = 0; i < 3; i++) {
        list.append(i);
      }
      list.insert(Tracked(9), c.index);
      EXPECT_EQ(values(list), c.expected) << "index " << c.index << " capacity " << capacity;
      EXPECT_EQ(Tracked::live, 4);
    }
  }
  List<Tracked> self(16);
  self.append(1);
  self.append(2);
  self.insert(self[1], 0);  // the source moves during the shift
  EXPECT_EQ(values(self), "2 1 2 ");
}

TEST_F(ListTest, RemoveResizeAndClear) {
  List<Tracked> list;
  for (int i = 0; i < 6; i++) {
    list.append(i);
  }
  EXPECT_TRUE(list.removeIndex(1));
  EXPECT_FALSE(list.removeIndex(5));
  EXPECT_TRUE(list.remove(Tracked(4)));
  EXPECT_EQ(values(list), "0 2 3 5 ");
  EXPECT_TRUE(list.removeIndexFast(0));
  EXPECT_EQ(values(list), "5 2 3 ");
  EXPECT_EQ(list.addUnique(2), 1);
  EXPECT_EQ(list.addUnique(4), 3);
  EXPECT_EQ(Tracked::live, 4);

  list.resize(2);
  EXPECT_EQ(list.size(), 2);
  EXPECT_EQ(values(list), "5 2 ");
  EXPECT_EQ(Tracked::live, 2) << "resize destroys the elements it drops";

  list.resize(0);
  EXPECT_EQ(list.num(), 0);
  EXPECT_EQ(list.size(), 0);
  EXPECT_EQ(list.ptr(), nullptr);
  EXPECT_EQ(Tracked::live, 0);

  list.clear();  // clearing an empty list frees nothing and stays empty
  EXPECT_EQ(list.num(), 0);
  EXPECT_EQ(list.ptr(), nullptr);

  list.setNum(3);
  EXPECT_EQ(values(list), "0 0 0 ");
  list.setNum(1);
  EXPECT_EQ(Tracked::live, 1);
}

TEST_F(ListTest, CopiesOwnTheirElements) {
  List<Tracked> a;
  for (int i = 0; i < 20; i++) {
    a.append(i);
  }
  List<Tracked> b(a);
  EXPECT_NE(a.ptr(), b.ptr());
  EXPECT_EQ(values(a), values(b));
  b[0] = Tracked(100);
  EXPECT_EQ(a[0].checked(), 0);
  List<Tracked> c;
  c = b;
  c = c;
  EXPECT_EQ(c[0].checked(), 100);
  List<Tracked> d(std::move(c));
  EXPECT_EQ(c.num(), 0);
  EXPECT_EQ(d.num(), 20);
  a.appendList(a);
  EXPECT_EQ(a.num(), 40);
  EXPECT_EQ(a[39].checked(), 19);
  EXPECT_EQ(Tracked::live, 20 + 20 + 40);
}

TEST_F(ListTest, SortIsStable) {
  List<std::pair<int, int>> list;
  const int keys[] = {3, 1, 2, 1, 3, 0};
  for (int i = 0; i < 6; i++) {
    list.append({keys[i], i});
  }
  list.sort([](const std::pair<int, int>& a, const std::pair<int, int>& b) { return a.first < b.first; });
  const std::pair<int, int> expected[] = {{0, 5}, {1, 1}, {1, 3}, {2, 2}, {3, 0}, {3, 4}};
  for (int i = 0; i < 6; i++) {
    EXPECT_EQ(list[i], expected[i]) << i;
  }
}

TEST(ListAlignment, OverAlignedElementsAreAligned) {
  struct alignas(64) Wide {
    float v[16];
  };
  List<Wide> list(3);
  for (int i = 0; i < 10; i++) {
    list.append(Wide{});
  }
  EXPECT_EQ(reinterpret_cast<uintptr_t>(list.ptr()) % 64, 0u);
}

// ---------------------------------------------------------------------------
// LinkList

namespace {

struct Entity {
  int id;
  LinkList<Entity> node;
  explicit Entity(int i) : id(i) { node.setOwner(this); }
};

std::string order(const LinkList<Entity>& head) {
  std::string s;
  for (LinkList<Entity>* n = head.nextNode(); n; n = n->nextNode()) {
    s += std::to_string(n->owner()->id);
  }
  return s;
}

}  // namespace

TEST(LinkList, InsertAfterBeforeAndOrder) {
  LinkList<Entity> head;
  Entity a(1), b(2), c(3);
  EXPECT_TRUE(head.isListEmpty());
  EXPECT_EQ(head.nextOwner(), nullptr);
  a.node.addToEnd(head);
  b.node.addToEnd(head);
  c.node.addToFront(head);
  EXPECT_EQ(order(head), "312");
  EXPECT_EQ(head.num(), 3);
  EXPECT_EQ(head.nextOwner(), &c);
  EXPECT_EQ(b.node.nextOwner(), nullptr) << "the head closes the circle";
  EXPECT_EQ(a.node.listHead(), &head);

  a.node.insertAfter(b.node);  // relinking detaches first
  EXPECT_EQ(order(head), "321");
  c.node.insertBefore(a.node);
  EXPECT_EQ(order(head), "231");
  EXPECT_EQ(head.num(), 3);
}

TEST(LinkList, RemoveOnNodesAndHeads) {
  LinkList<Entity> head;
  Entity a(1), b(2), c(3);
  EXPECT_EQ(a.node.remove(), nullptr) << "removing a detached node changes nothing";
  EXPECT_FALSE(a.node.inList());

  a.node.addToEnd(head);
  b.node.addToEnd(head);
  c.node.addToEnd(head);
  EXPECT_EQ(b.node.remove(), &b.node);
  EXPECT_EQ(order(head), "13");
  EXPECT_FALSE(b.node.inList());
  EXPECT_EQ(b.node.listHead(), &b.node);

  b.node.addToEnd(head);
  EXPECT_EQ(head.remove(), &b.node) << "the head returns the last node it removed";
  EXPECT_TRUE(head.isListEmpty());
  EXPECT_EQ(head.num(), 0);
  for (Entity* e : {&a, &b, &c}) {
    EXPECT_FALSE(e->node.inList());
    EXPECT_EQ(e->node.nextNode(), nullptr);
    EXPECT_EQ(e->node.num(), 0);
  }
  EXPECT_EQ(head.remove(), nullptr);
}

TEST(LinkList, DestroyingAHeadOrNodeLeavesNoDanglingLinks) {
  Entity a(1), b(2);
  {
    LinkList<Entity> head;
    a.node.addToEnd(head);
    b.node.addToEnd(head);
  }
  // Under ASan a dangling head pointer would be a use after scope here.
  EXPECT_FALSE(a.node.inList());
  EXPECT_EQ(a.node.nextOwner(), nullptr);

  LinkList<Entity> head;
  a.node.addToEnd(head);
  {
    Entity temporary(9);
    temporary.node.addToEnd(head);
    b.node.addToEnd(head);
  }
  EXPECT_EQ(order(head), "12");
}
