// List: growable array whose capacity grows in steps of a granularity.
// LinkList: intrusive circular doubly linked list; each node knows its head
// and the object that embeds it.
#pragma once

#include <cassert>
#include <cstddef>
#include <new>
#include <utility>

template <typename T>
class List {
 public:
  static constexpr int kDefaultGranularity = 16;

  explicit List(int granularity = kDefaultGranularity) : granularity_(granularity) {
    assert(granularity >= 0 && "List: negative granularity");
  }
  List(const List& other) : granularity_(other.granularity_) { copyFrom(other); }
  List(List&& other) noexcept { swap(other); }
  ~List() { clear(); }

  List& operator=(const List& other) {
    if (this != &other) {
      clear();
      granularity_ = other.granularity_;
      copyFrom(other);
    }
    return *this;
  }
  List& operator=(List&& other) noexcept {
    if (this != &other) {
      clear();
      swap(other);
    }
    return *this;
  }

  int num() const { return num_; }
  // Capacity in elements.
  int size() const { return size_; }
  int getGranularity() const { return granularity_; }
  // Takes effect at the next growth.
  void setGranularity(int granularity) {
    assert(granularity >= 0 && "List::setGranularity: negative granularity");
    granularity_ = granularity;
  }
  // Bytes of element storage held.
  size_t allocated() const { return size_t(size_) * sizeof(T); }

  T& operator[](int index) {
    assert(index >= 0 && index < num_ && "List: index out of range");
    return list_[index];
  }
  const T& operator[](int index) const {
    assert(index >= 0 && index < num_ && "List: index out of range");
    return list_[index];
  }
  T* ptr() { return list_; }
  const T* ptr() const { return list_; }
  T* begin() { return list_; }
  T* end() { return list_ + num_; }
  const T* begin() const { return list_; }
  const T* end() const { return list_ + num_; }

  // Appends a copy of element (which may be an element of this list) and
  // returns its index.
  int append(const T& element) {
    if (num_ == size_) {
      growWith(num_, element);
    } else {
      new (list_ + num_) T(element);
    }
    return num_++;
  }
  int append(T&& element) {
    if (num_ == size_) {
      growWith(num_, std::move(element));
    } else {
      new (list_ + num_) T(std::move(element));
    }
    return num_++;
  }
  // Appends a default-constructed element and returns it.
  T& alloc() {
    if (num_ == size_) {
      growWith(num_, T());
    } else {
      new (list_ + num_) T();
    }
    return list_[num_++];
  }
  // Appends every element of other (which may be this list).
  void appendList(const List& other) {
    int n = other.num_;
    if (&other == this) {
      resize(n * 2 > size_ ? n * 2 : size_);
    } else if (num_ + n > size_) {
      resize(num_ + n);
    }
    for (int i = 0; i < n; i++) {
      append(other.list_[i]);
    }
  }

  // Inserts a copy of element at index (clamped to 0..num), moving the later
  // elements up by one. Returns the index used.
  int insert(const T& element, int index = 0) {
    if (index < 0) {
      index = 0;
    }
    if (index > num_) {
      index = num_;
    }
    if (num_ == size_) {
      growWith(index, element);
      num_++;
      return index;
    }
    T copy(element);  // element may be one of ours that the shift moves
    if (index == num_) {
      new (list_ + num_) T(std::move(copy));
    } else {
      new (list_ + num_) T(std::move(list_[num_ - 1]));
      for (int i = num_ - 1; i > index; i--) {
        list_[i] = std::move(list_[i - 1]);
      }
      list_[index] = std::move(copy);
    }
    num_++;
    return index;
  }

  // Appends element unless an equal one is listed; returns its index.
  int addUnique(const T& element) {
    int index = findIndex(element);
    return index >= 0 ? index : append(element);
  }
  int findIndex(const T& element) const {
    for (int i = 0; i < num_; i++) {
      if (list_[i] == element) {
        return i;
      }
    }
    return -1;
  }
  T* find(const T& element) {
    int index = findIndex(element);
    return index >= 0 ? list_ + index : nullptr;
  }

  // Removes the element at index, moving the later ones down by one.
  bool removeIndex(int index) {
    if (index < 0 || index >= num_) {
      return false;
    }
    for (int i = index; i + 1 < num_; i++) {
      list_[i] = std::move(list_[i + 1]);
    }
    num_--;
    list_[num_].~T();
    return true;
  }
  // Removes the first element equal to element.
  bool remove(const T& element) {
    int index = findIndex(element);
    if (index < 0) {
      return false;
    }
    return removeIndex(index);
  }
  // Removes the element at index by moving the last one into its place.
  bool removeIndexFast(int index) {
    if (index < 0 || index >= num_) {
      return false;
    }
    if (index != num_ - 1) {
      list_[index] = std::move(list_[num_ - 1]);
    }
    num_--;
    list_[num_].~T();
    return true;
  }

  // New storage of newSize elements keeping the first min(num, newSize);
  // below 1 frees everything.
  void resize(int newSize) {
    if (newSize < 1) {
      clear();
      return;
    }
    if (newSize == size_) {
      return;
    }
    T* block = allocate(newSize);
    int keep = num_ < newSize ? num_ : newSize;
    for (int i = 0; i < keep; i++) {
      new (block + i) T(std::move(list_[i]));
    }
    destroyAndFree();
    list_ = block;
    size_ = newSize;
    num_ = keep;
  }
  // Makes room for at least n elements without changing num.
  void assureSize(int n) {
    if (n > size_) {
      resize(n);
    }
  }
  // Sets the element count: new elements are default-constructed, surplus
  // ones destroyed; storage grows to fit but never shrinks.
  void setNum(int newNum) {
    assert(newNum >= 0 && "List::setNum: negative count");
    if (newNum > size_) {
      resize(newNum);
    }
    for (int i = num_; i < newNum; i++) {
      new (list_ + i) T();
    }
    for (int i = newNum; i < num_; i++) {
      list_[i].~T();
    }
    num_ = newNum;
  }
  // Shrinks the storage to num elements.
  void condense() { resize(num_); }

  // Destroys the elements and frees the storage.
  void clear() {
    destroyAndFree();
    list_ = nullptr;
    num_ = 0;
    size_ = 0;
  }

  void swap(List& other) noexcept {
    std::swap(num_, other.num_);
    std::swap(size_, other.size_);
    std::swap(granularity_, other.granularity_);
    std::swap(list_, other.list_);
  }

  // Insertion sort keeps equal elements in order; less(a, b) is a strict order.
  template <typename Less>
  void sort(Less less) {
    for (int i = 1; i < num_; i++) {
      if (!less(list_[i], list_[i - 1])) {
        continue;
      }
      T moving(std::move(list_[i]));
      int j = i;
      for (; j > 0 && less(moving, list_[j - 1]); j--) {
        list_[j] = std::move(list_[j - 1]);
      }
      list_[j] = std::move(moving);
    }
  }

 private:
  static T* allocate(int count) {
    size_t bytes = size_t(count) * sizeof(T);
    if constexpr (alignof(T) > __STDCPP_DEFAULT_NEW_ALIGNMENT__) {
      return static_cast<T*>(::operator new(bytes, std::align_val_t(alignof(T))));
    } else {
      return static_cast<T*>(::operator new(bytes));
    }
  }
  static void release(T* block) {
    if constexpr (alignof(T) > __STDCPP_DEFAULT_NEW_ALIGNMENT__) {
      ::operator delete(block, std::align_val_t(alignof(T)));
    } else {
      ::operator delete(block);
    }
  }
  void destroyAndFree() {
    for (int i = 0; i < num_; i++) {
      list_[i].~T();
    }
    if (list_) {
      release(list_);
    }
  }

  // Capacity after growing a full list: the next multiple of the granularity
  // (an empty list without storage starts at one granularity).
  int grownSize() {
    if (granularity_ == 0) {
      granularity_ = kDefaultGranularity;
    }
    if (!list_) {
      return granularity_;
    }
    int newSize = size_ + granularity_;
    return newSize - newSize % granularity_;
  }

  // Grows a full list and constructs the new element at index in the new
  // storage before the old storage goes: the element may live there.
  template <typename U>
  void growWith(int index, U&& element) {
    int newSize = grownSize();
    T* block = allocate(newSize);
    new (block + index) T(std::forward<U>(element));
    for (int i = 0; i < index; i++) {
      new (block + i) T(std::move(list_[i]));
    }
    for (int i = index; i < num_; i++) {
      new (block + i + 1) T(std::move(list_[i]));
    }
    destroyAndFree();
    list_ = block;
    size_ = newSize;
  }

  void copyFrom(const List& other) {
    if (other.num_ == 0) {
      return;
    }
    list_ = allocate(other.size_);
    size_ = other.size_;
    for (int i = 0; i < other.num_; i++) {
      new (list_ + i) T(other.list_[i]);
    }
    num_ = other.num_;
  }

  int num_ = 0;
  int size_ = 0;
  int granularity_ = kDefaultGranularity;
  T* list_ = nullptr;
};

// A node of (or the head of) an intrusive circular list. A head or a detached
// node links to itself; owner is the object embedding the node (null for a
// head). Nodes are bound to their address, so they are not copyable.
template <typename T>
class LinkList {
 public:
  LinkList() : head_(this), next_(this), prev_(this), owner_(nullptr) {}
  explicit LinkList(T* owner) : LinkList() { owner_ = owner; }
  ~LinkList() { remove(); }
  LinkList(const LinkList&) = delete;
  LinkList& operator=(const LinkList&) = delete;

  bool isListEmpty() const { return head_->next_ == head_; }
  bool inList() const { return head_ != this; }
  // Number of nodes of the list this node is in (or heads).
  int num() const {
    int n = 0;
    for (const LinkList* node = head_->next_; node != head_; node = node->next_) {
      n++;
    }
    return n;
  }

  // Links this node directly after node (after a head: at the front).
  void insertAfter(LinkList& node) {
    unlink();
    prev_ = &node;
    next_ = node.next_;
    node.next_->prev_ = this;
    node.next_ = this;
    head_ = node.head_;
  }
  // Links this node directly before node (before a head: at the end).
  void insertBefore(LinkList& node) {
    unlink();
    next_ = &node;
    prev_ = node.prev_;
    node.prev_->next_ = this;
    node.prev_ = this;
    head_ = node.head_;
  }
  void addToFront(LinkList& head) { insertAfter(*head.head_); }
  void addToEnd(LinkList& head) { insertBefore(*head.head_); }

  // On a node: unlinks it; on a head: detaches every node of its list.
  // Returns the last node removed, null when nothing was linked.
  LinkList* remove() {
    if (head_ != this) {
      unlink();
      return this;
    }
    LinkList* last = nullptr;
    while (next_ != this) {
      last = next_;
      last->unlink();
    }
    return last;
  }

  T* owner() const { return owner_; }
  void setOwner(T* owner) { owner_ = owner; }
  LinkList* listHead() const { return head_; }
  LinkList* nextNode() const { return next_ == head_ ? nullptr : next_; }
  LinkList* prevNode() const { return prev_ == head_ ? nullptr : prev_; }
  // Owner of the next node, null at the end (on a head: the first element).
  T* nextOwner() const { return next_ == head_ ? nullptr : next_->owner_; }
  T* prevOwner() const { return prev_ == head_ ? nullptr : prev_->owner_; }

 private:
  // Takes a node out of its circle and makes it a detached self-loop.
  void unlink() {
    assert((head_ != this || next_ == this) && "LinkList: cannot link a head that has nodes");
    prev_->next_ = next_;
    next_->prev_ = prev_;
    head_ = this;
    next_ = this;
    prev_ = this;
  }

  LinkList* head_;
  LinkList* next_;
  LinkList* prev_;
  T* owner_;
};
