#include "core/document/SectionStore.h"

#include <memory>

namespace velloran {

void SectionStore::SetSlotText(int k, std::string text) {
    auto block = std::make_shared<const std::string>(std::move(text));
    slots_[Index(k)] = {block, *block};
}

void SectionStore::SetSections(const SharedBytes& block, std::span<const std::string_view> texts) {
    for (std::size_t k = 0; k < slots_.size(); ++k) {
        Slot& slot = slots_[k];
        if (k < texts.size()) {
            slot = {block, texts[k]};
        } else if (slot.block && slot.block != block && slot.text.size() != slot.block->size()) {
            SetSlotText(static_cast<int>(k), std::string(slot.text));
        }
    }
}

}  // namespace velloran
