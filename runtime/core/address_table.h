// An open-addressing table from an object's address to a 32-bit value.
//
// Entries live in one array (linear probing, removal by backward shift, no
// tombstones), so a steady rate of records created and destroyed costs no
// heap traffic once the array has grown to the working size; a node-based
// map would allocate and free one node per record.
#pragma once

#include <cstdint>
#include <vector>

namespace mox_rt {

class AddressTable {
 public:
  const uint32_t *find(const void *key) const {
    if (slots_.empty()) return nullptr;
    for (size_t i = home(key);; i = next(i)) {
      if (slots_[i].key == key) return &slots_[i].value;
      if (slots_[i].key == nullptr) return nullptr;
    }
  }

  // Room for n more entries without growing on the way (a bulk insert).
  void reserve(size_t n) {
    while (kSpread * (used_ + n) > slots_.size()) grow();
  }

  void set(const void *key, uint32_t value) {
    if (kSpread * (used_ + 1) > slots_.size()) grow();
    set_reserved(key, value);
  }

  // set() after reserve(): no growth check.
  void set_reserved(const void *key, uint32_t value) {
    size_t i = home(key);
    while (slots_[i].key != nullptr && slots_[i].key != key) i = next(i);
    if (slots_[i].key == nullptr) ++used_;
    slots_[i] = {key, value};
  }

  void erase(const void *key) {
    if (slots_.empty()) return;
    size_t hole = home(key);
    while (slots_[hole].key != key) {
      if (slots_[hole].key == nullptr) return;
      hole = next(hole);
    }
    // Shift back every later entry of the probe run that may move into the hole.
    for (size_t j = next(hole); slots_[j].key != nullptr; j = next(j)) {
      size_t h = home(slots_[j].key);
      bool stays = hole <= j ? (hole < h && h <= j) : (hole < h || h <= j);
      if (!stays) {
        slots_[hole] = slots_[j];
        hole = j;
      }
    }
    slots_[hole] = {};
    --used_;
  }

  size_t size() const { return used_; }
  size_t bytes() const { return slots_.capacity() * sizeof(Slot); }

 private:
  struct Slot {
    const void *key = nullptr;
    uint32_t value = 0;
  };

  // Fibonacci hashing: the top bits of the product, which depend on every
  // bit of the address (records a few bytes apart land far apart).
  size_t home(const void *key) const {
    uint64_t x = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key)) * 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(x >> shift_);
  }
  size_t next(size_t i) const { return (i + 1) & (slots_.size() - 1); }

  void grow() {
    std::vector<Slot> old(slots_.empty() ? 16 : 2 * slots_.size());
    old.swap(slots_);
    shift_ = 64 - static_cast<unsigned>(__builtin_ctzll(slots_.size()));
    used_ = 0;
    for (const Slot &s : old)
      if (s.key != nullptr) set(s.key, s.value);
  }

  // At most one slot in kSpread is used: the probe runs stay short, which
  // matters most to erase (it walks the rest of its run), and records are
  // placed and released in groups at every create and destroy.
  static constexpr size_t kSpread = 4;

  std::vector<Slot> slots_;  // a power of two in size; a null key is a free slot
  size_t used_ = 0;
  unsigned shift_ = 64;  // 64 - log2 of the slot count
};

}  // namespace mox_rt
