#include "vqscwlib/selector/card_selection.h"

#include <cstdio>

namespace vqscw {
namespace {

constexpr uint32_t kLoopbackFirstOctet = 127;

bool AdapterListUsable(const std::optional<CardList>& cards) {
  return cards.has_value() && cards->size() <= kAdapterListRoom;
}

// Visits addresses in list order, noting each, until one equals `address`; gives its card.
const NetCard* FindCardWithAddress(const CardList& cards, uint32_t address, std::string* lines) {
  for (const NetCard& card : cards) {
    for (const CardAddress& entry : card.addresses) {
      *lines += "\t" + DottedAddress(entry.address) + " " + DottedAddress(entry.mask) + "\n";
      if (entry.address == address) return &card;
    }
  }
  return nullptr;
}

}  // namespace

std::string DottedAddress(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address & 0xFF, (address >> 8) & 0xFF,
                (address >> 16) & 0xFF, address >> 24);
  return text;
}

CardResolution ResolveCard(const std::optional<CardList>& cards, uint32_t stored_address,
                           const std::string& stored_name) {
  CardResolution result{stored_address, false, {}};
  if (!AdapterListUsable(cards)) return result;
  if (stored_address != 0 && FindCardWithAddress(*cards, stored_address, &result.lines)) {
    result.resolved = true;
    return result;
  }
  if (stored_name.empty()) return result;
  for (const NetCard& card : *cards) {
    if (card.name != stored_name) continue;
    for (const CardAddress& entry : card.addresses) {
      if (entry.address != 0) {
        result.address = entry.address;
        result.resolved = true;
        return result;
      }
    }
    return result;
  }
  return result;
}

std::string AdapterNameOf(const std::optional<CardList>& cards, uint32_t address,
                          std::string* lines) {
  if (address == 0 || !AdapterListUsable(cards)) return {};
  const NetCard* card = FindCardWithAddress(*cards, address, lines);
  return card ? card->name : std::string();
}

bool CardHasAddress(const std::optional<CardList>& cards, uint32_t address) {
  if (!cards) return true;
  for (const NetCard& card : *cards) {
    for (const CardAddress& entry : card.addresses) {
      if (entry.address == address) return true;
    }
  }
  return false;
}

std::vector<CardMenuItem> CardMenuItems(const std::optional<CardList>& cards, uint32_t current) {
  std::vector<CardMenuItem> items;
  if (!cards) return items;
  size_t table_size = 0;
  for (const NetCard& card : *cards) table_size += card.addresses.size();
  if (table_size > kAddressTableRoom) return items;
  for (const NetCard& card : *cards) {
    for (const CardAddress& entry : card.addresses) {
      if (entry.address == 0 || (entry.address & 0xFF) == kLoopbackFirstOctet) continue;
      items.push_back({DottedAddress(entry.address) + "\t" + card.description, entry.address,
                       entry.address == current});
    }
  }
  return items;
}

}  // namespace vqscw
