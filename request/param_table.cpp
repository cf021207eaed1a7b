// Fixed-capacity table of key/value texts: the parameter half of a plugin request.
#include "param_table.h"

#include <utility>

CParamTable::CParamTable() : separator(u"@@@") {}

CParamTable::~CParamTable() = default;

int CParamTable::SetParam(std::u16string key, std::u16string value) {
  const int slot = FindSlot(key);
  if (slot < 0) {
    return 1;
  }
  StoreAt(slot, std::move(key), std::move(value));
  return 0;
}

int CParamTable::FindSlot(std::u16string_view key) const {
  for (int i = 0; i < kCapacity; ++i) {
    if (keys[i] == key || keys[i].empty()) {
      return i;
    }
  }
  return -1;
}

void CParamTable::StoreAt(int slot, std::u16string key, std::u16string value) {
  keys[slot] = std::move(key);
  values[slot] = std::move(value);
}

int CParamTable::GetParam(std::u16string key, std::u16string& value) const {
  for (int i = 0; i < kCapacity; ++i) {
    if (keys[i] == key) {
      value = values[i];
      return 0;
    }
    if (keys[i].empty()) {
      break;
    }
  }
  value.clear();
  return 1;
}

int CParamTable::CountParams() const {
  int count = 0;
  for (const auto& key : keys) {
    if (!key.empty()) {
      ++count;
    }
  }
  return count;
}

std::u16string CParamTable::BuildParamText() const {
  std::u16string text;
  for (int i = 0; i < kCapacity; ++i) {
    if (keys[i].empty()) {
      continue;
    }
    if (!text.empty()) {
      text += separator;
    }
    text += keys[i];
    text += u'=';
    text += values[i];
  }
  return text;
}

std::u16string CParamTable::GetSeparator() const {
  return separator;
}
