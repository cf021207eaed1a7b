// Fixed-capacity table of key/value texts: the parameter half of a plugin request.
#pragma once

#include <array>
#include <string>
#include <string_view>

// An ordered table of 100 key/value slots. A slot is used when its key is non-empty. Keys are
// compared code unit by code unit (case-sensitive, no trimming). Slots are taken front to back and
// never emptied, so used slots normally form a prefix in the order their keys were first set.
class CParamTable {
 public:
  static constexpr int kCapacity = 100;

  CParamTable();
  CParamTable(const CParamTable&) = default;
  CParamTable& operator=(const CParamTable&) = default;
  CParamTable(CParamTable&&) = default;
  CParamTable& operator=(CParamTable&&) = default;
  virtual ~CParamTable();

  // Stores value under key: replaces the value of the first slot holding key, else takes the first
  // empty slot (the key test comes first at every slot). An empty key takes the first empty slot
  // and leaves it empty for every other operation. Returns 0 when stored, 1 when no slot was
  // available (100 other keys are set); then nothing changes.
  int SetParam(std::u16string key, std::u16string value);

  // Looks key up, stopping at the first empty slot. Returns 0 and writes the slot's value to value
  // when found; returns 1 and sets value to the empty text otherwise.
  int GetParam(std::u16string key, std::u16string& value) const;

  // Number of used slots among all 100.
  int CountParams() const;

  // The used pairs in slot order as key=value, joined by the separator; empty when none is used.
  std::u16string BuildParamText() const;

  // A copy of the field separator "@@@".
  std::u16string GetSeparator() const;

 protected:
  // Index of the slot SetParam would take for key, or -1 when every slot holds another key.
  int FindSlot(std::u16string_view key) const;

  // True when slot (0..99) holds no key.
  bool IsEmptySlot(int slot) const { return keys[slot].empty(); }

  // Writes key and value into slot (0..99), as SetParam does once it has chosen the slot.
  void StoreAt(int slot, std::u16string key, std::u16string value);

 private:
  std::array<std::u16string, kCapacity> keys;
  std::array<std::u16string, kCapacity> values;
  std::u16string separator;
};
