#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "core/document/Host.h"

namespace velloran {

// Section slots held compactly as bytes: each slot is a view into a block it shares, most often
// the file as read, so that a split copies nothing. The window layer keeps here the sections
// whose editors were not filled yet.
class SectionStore : public SectionSlots {
  public:
    std::string_view ReadSlot(int k) const override { return Text(k); }
    void SetSlotText(int k, std::string text) override;
    // Slots above the new sections keep their text, in blocks of their own, so that an earlier
    // document's block is not held on to for them.
    void SetSections(const SharedBytes& block, std::span<const std::string_view> texts) override;

    std::string_view Text(int k) const { return slots_[Index(k)].text; }
    // The block slot k's text lies in, to share it.
    const SharedBytes& Block(int k) const { return slots_[Index(k)].block; }
    // Lets go of slot k's text, which reads as empty from now on.
    void Release(int k) { slots_[Index(k)] = {}; }

  private:
    static std::size_t Index(int k) { return static_cast<std::size_t>(k); }
    struct Slot {
        SharedBytes block;
        std::string_view text;
    };
    std::array<Slot, kSectionCount> slots_;
};

}  // namespace velloran
